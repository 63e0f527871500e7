#include "standin_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "tally_request.h"
#include "text_encoding.h"

namespace korvane::standin {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;
constexpr int kReadTimeoutMs = 30'000;
// A client that takes nothing for this long is given up, so it cannot block the queue forever.
constexpr int kWriteTimeoutMs = 120'000;
constexpr std::size_t kPieceBytes = 256 * 1024;
// The reset and stall faults cut the answer after this many body bytes.
constexpr std::size_t kCutBytes = 8 * 1024;

// Self-pipe: the signal handler only writes a byte, every wait also watches the read end.
int g_signal_pipe[2] = {-1, -1};
volatile sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
    const char c = 1;
    const ssize_t r = write(g_signal_pipe[1], &c, 1);
    (void)r;
}

void InstallSignalHandlers() {
    if (g_signal_pipe[0] < 0) {
        if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        }
    }
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: blocking calls return EINTR and we look at g_stop
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            Reset();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

enum class Wait { Ready, Timeout, Stop };

// Waits for `events` on `fd` (or only for the stop signal when fd < 0); timeout_ms < 0: forever.
Wait WaitFor(int fd, short events, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (g_stop) return Wait::Stop;
        pollfd fds[2] = {{g_signal_pipe[0], POLLIN, 0}, {fd, events, 0}};
        int wait_ms = -1;
        if (timeout_ms >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now());
            if (left.count() <= 0) return Wait::Timeout;
            wait_ms = static_cast<int>(left.count());
        }
        const int n = poll(fds, fd >= 0 ? 2 : 1, wait_ms);
        if (n < 0 && errno != EINTR) return Wait::Stop;
        if (g_stop) return Wait::Stop;
        if (n > 0 && fd >= 0 && fds[1].revents != 0) return Wait::Ready;
    }
}

bool SleepFor(double seconds) {
    if (seconds <= 0) return !g_stop;
    // Beyond what an int of milliseconds holds (some 24 days) the wait is as good as for ever;
    // converting such a value to int would be undefined.
    const double ms = seconds * 1000;
    const int timeout_ms = ms < static_cast<double>(INT_MAX) ? static_cast<int>(ms) : -1;
    return WaitFor(-1, 0, timeout_ms) == Wait::Timeout;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// ---- Reading a request ----

struct Request {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;  // names lower-cased
    std::string body;

    std::string Header(std::string_view name) const {
        for (const auto& [n, v] : headers) {
            if (n == name) return v;
        }
        return {};
    }
};

enum class ReadResult { Ok, Closed, Timeout, Bad, TooLarge, Stop };

const char* ReadResultText(ReadResult r) {
    switch (r) {
        case ReadResult::Ok: return "ok";
        case ReadResult::Closed: return "closed by the client before a whole request";
        case ReadResult::Timeout: return "no whole request within 30 s";
        case ReadResult::Bad: return "not an HTTP request";
        case ReadResult::TooLarge: return "request too large";
        case ReadResult::Stop: return "stopped";
    }
    return "";
}

class RequestReader {
public:
    explicit RequestReader(int fd) : fd_(fd) {}

    ReadResult Read(Request& req) {
        std::size_t end;
        while ((end = buf_.find("\r\n\r\n")) == std::string::npos) {
            if (buf_.size() > kMaxHeaderBytes) return ReadResult::TooLarge;
            if (const ReadResult r = More(); r != ReadResult::Ok) return r;
        }
        if (!ParseHead(std::string_view(buf_).substr(0, end), req)) return ReadResult::Bad;
        pos_ = end + 4;
        if (Lower(req.Header("transfer-encoding")).find("chunked") != std::string::npos) {
            return ReadChunked(req.body);
        }
        const std::string length_text(Trim(req.Header("content-length")));
        std::size_t length = 0;
        if (!length_text.empty()) {
            if (length_text.find_first_not_of("0123456789") != std::string::npos) {
                return ReadResult::Bad;
            }
            // Too many digits for any body we take (and for stoull, which would throw).
            if (length_text.size() > 12) return ReadResult::TooLarge;
            length = std::stoull(length_text);
            if (length > kMaxBodyBytes) return ReadResult::TooLarge;
        }
        if (const ReadResult r = Need(length); r != ReadResult::Ok) return r;
        req.body = buf_.substr(pos_, length);
        return ReadResult::Ok;
    }

private:
    ReadResult More() {
        const Wait w = WaitFor(fd_, POLLIN, kReadTimeoutMs);
        if (w == Wait::Stop) return ReadResult::Stop;
        if (w == Wait::Timeout) return ReadResult::Timeout;
        char tmp[64 * 1024];
        const ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
        if (n == 0) return ReadResult::Closed;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return ReadResult::Ok;
            return ReadResult::Closed;
        }
        buf_.append(tmp, static_cast<std::size_t>(n));
        return ReadResult::Ok;
    }

    // Makes sure `n` bytes past pos_ are in the buffer.
    ReadResult Need(std::size_t n) {
        while (buf_.size() - pos_ < n) {
            if (const ReadResult r = More(); r != ReadResult::Ok) return r;
        }
        return ReadResult::Ok;
    }

    ReadResult ReadLine(std::string& line) {
        std::size_t eol;
        while ((eol = buf_.find("\r\n", pos_)) == std::string::npos) {
            if (buf_.size() - pos_ > 4096) return ReadResult::Bad;
            if (const ReadResult r = More(); r != ReadResult::Ok) return r;
        }
        line = buf_.substr(pos_, eol - pos_);
        pos_ = eol + 2;
        return ReadResult::Ok;
    }

    ReadResult ReadChunked(std::string& body) {
        for (;;) {
            std::string line;
            if (const ReadResult r = ReadLine(line); r != ReadResult::Ok) return r;
            const std::string size_text(Trim(line.substr(0, line.find(';'))));
            if (size_text.empty() || size_text.size() > 8 ||
                size_text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
                return ReadResult::Bad;
            }
            const std::size_t size = std::stoul(size_text, nullptr, 16);
            if (size == 0) break;
            if (body.size() + size > kMaxBodyBytes) return ReadResult::TooLarge;
            if (const ReadResult r = Need(size + 2); r != ReadResult::Ok) return r;
            body.append(buf_, pos_, size);
            pos_ += size + 2;
        }
        // Trailer fields up to the empty line.
        for (;;) {
            std::string line;
            if (const ReadResult r = ReadLine(line); r != ReadResult::Ok) return r;
            if (line.empty()) return ReadResult::Ok;
        }
    }

    static bool ParseHead(std::string_view head, Request& req) {
        std::size_t eol = head.find("\r\n");
        const std::string_view line = head.substr(0, eol);
        const std::size_t sp1 = line.find(' ');
        const std::size_t sp2 = line.rfind(' ');
        if (sp1 == std::string_view::npos || sp2 == sp1) return false;
        req.method = std::string(line.substr(0, sp1));
        req.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
        if (!line.substr(sp2 + 1).starts_with("HTTP/1.")) return false;
        while (eol != std::string_view::npos) {
            const std::size_t start = eol + 2;
            eol = head.find("\r\n", start);
            const std::string_view field = head.substr(start, eol - start);
            const std::size_t colon = field.find(':');
            if (colon == std::string_view::npos) return false;
            req.headers.emplace_back(Lower(Trim(field.substr(0, colon))),
                                     std::string(Trim(field.substr(colon + 1))));
        }
        return true;
    }

    int fd_;
    std::string buf_;
    std::size_t pos_ = 0;
};

// ---- Writing an answer ----

enum class Sent { Ok, Cut, Gone, Stop };

// Sends body bytes at the configured pace and stops at the cut point of the reset and stall
// faults. Every byte after the response head counts, chunk framing included.
class BodyWriter {
public:
    BodyWriter(int fd, double rate_bytes_per_s, std::optional<std::size_t> cut)
        : fd_(fd), rate_(rate_bytes_per_s), cut_(cut), start_(Clock::now()) {
        if (rate_ > 0) slice_ = std::max<std::size_t>(1024, static_cast<std::size_t>(rate_ / 50));
    }

    std::size_t sent() const { return sent_; }

    Sent Put(std::string_view data, bool more = false) {
        while (!data.empty()) {
            const std::size_t n = Allowed(data.size());
            if (n == 0) return Sent::Cut;
            if (!Pace()) return Sent::Stop;
            const ssize_t w = send(fd_, data.data(), n, MSG_NOSIGNAL | (more ? MSG_MORE : 0));
            if (w < 0) {
                if (const Sent s = OnSendError(); s != Sent::Ok) return s;
                continue;
            }
            sent_ += static_cast<std::size_t>(w);
            data.remove_prefix(static_cast<std::size_t>(w));
        }
        return Sent::Ok;
    }

    Sent PutFile(int file, std::size_t length) {
        off_t offset = 0;
        while (static_cast<std::size_t>(offset) < length) {
            const std::size_t n = Allowed(length - static_cast<std::size_t>(offset));
            if (n == 0) return Sent::Cut;
            if (!Pace()) return Sent::Stop;
            const ssize_t w = sendfile(fd_, file, &offset, n);
            if (w < 0) {
                if (const Sent s = OnSendError(); s != Sent::Ok) return s;
                continue;
            }
            if (w == 0) return Sent::Gone;  // the file shrank under us
            sent_ += static_cast<std::size_t>(w);
        }
        return Sent::Ok;
    }

private:
    std::size_t Allowed(std::size_t want) const {
        std::size_t n = std::min(want, slice_);
        if (cut_) n = std::min(n, *cut_ > sent_ ? *cut_ - sent_ : 0);
        return n;
    }

    // Waits until the bytes sent so far are due at the configured rate.
    bool Pace() const {
        if (rate_ <= 0) return !g_stop;
        const auto due = start_ + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(double(sent_) / rate_));
        const auto now = Clock::now();
        if (due <= now) return !g_stop;
        return SleepFor(std::chrono::duration<double>(due - now).count());
    }

    Sent OnSendError() const {
        if (errno == EINTR) return g_stop ? Sent::Stop : Sent::Ok;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return Sent::Gone;
        switch (WaitFor(fd_, POLLOUT, kWriteTimeoutMs)) {
            case Wait::Ready: return Sent::Ok;
            case Wait::Timeout: return Sent::Gone;
            case Wait::Stop: return Sent::Stop;
        }
        return Sent::Gone;
    }

    int fd_;
    double rate_;
    std::optional<std::size_t> cut_;
    Clock::time_point start_;
    std::size_t slice_ = SIZE_MAX;
    std::size_t sent_ = 0;
};

Sent SendAll(int fd, std::string_view data, bool more = false) {
    return BodyWriter(fd, 0, std::nullopt).Put(data, more);
}

// What to answer, decided from the request before anything is sent.
struct Answer {
    int status = 200;
    std::string content_type;
    std::string body;
    bool head_only = false;
    enum class Body { Fixed, Generated, Replay } source = Body::Fixed;
    AnswerCharset charset = AnswerCharset::Ascii;
    Period period;
    ExportFlaws flaws;
    bool cuttable = false;  // the reset and stall faults act on this answer
    std::string what;       // for the log
};

std::string GuessReplayCharset(const std::string& path) {
    Fd f(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    unsigned char head[2] = {0, 0};
    if (f.get() < 0 || read(f.get(), head, 2) != 2) return "utf-8";
    if ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] != 0 && head[1] == 0)) return "utf-16";
    return "utf-8";
}

std::string PeerName(const sockaddr_storage& addr) {
    char host[INET6_ADDRSTRLEN] = "?";
    char out[INET6_ADDRSTRLEN + 16];
    if (addr.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
        inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
        std::snprintf(out, sizeof out, "%s:%u", host, unsigned{ntohs(a->sin_port)});
    } else {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
        inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
        std::snprintf(out, sizeof out, "[%s]:%u", host, unsigned{ntohs(a->sin6_port)});
    }
    return out;
}

std::string PeriodText(const std::optional<std::string>& from, const std::optional<std::string>& to,
                       const Period& p) {
    const auto side = [](const std::optional<std::string>& text, const std::optional<DayNumber>& d) {
        if (d) return DayToText(*d);
        if (text) return "'" + *text + "' (unread, open)";
        return std::string("(open)");
    };
    return side(from, p.from) + ".." + side(to, p.to);
}

const char* StatusText(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 500: return "Internal Server Error";
    }
    return "Unknown";
}

}  // namespace

bool ParseFault(const std::string& name, Fault& fault) {
    static constexpr std::pair<const char*, Fault> kNames[] = {
        {"none", Fault::None},        {"no-company", Fault::NoCompany},
        {"no-addon", Fault::NoAddon}, {"empty", Fault::Empty},
        {"malformed", Fault::Malformed}, {"http-500", Fault::Http500},
        {"reset", Fault::Reset},      {"slow", Fault::Slow},
        {"stall", Fault::Stall},
    };
    for (const auto& [n, f] : kNames) {
        if (name == n) {
            fault = f;
            return true;
        }
    }
    return false;
}

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::None: return "none";
        case Fault::NoCompany: return "no-company";
        case Fault::NoAddon: return "no-addon";
        case Fault::Empty: return "empty";
        case Fault::Malformed: return "malformed";
        case Fault::Http500: return "http-500";
        case Fault::Reset: return "reset";
        case Fault::Slow: return "slow";
        case Fault::Stall: return "stall";
    }
    return "?";
}

struct StandinServer::Impl {
    ServerOptions opt;
    Company company;
    Fd listener;
    int port = 0;

    explicit Impl(ServerOptions o) : opt(std::move(o)), company(opt.company) {}

    Answer Decide(const Request& req) const {
        Answer a;
        if (opt.fault == Fault::Http500) {
            a.status = 500;
            a.content_type = "text/html; charset=iso-8859-1";
            a.body = InternalErrorPage();
            a.what = "fault http-500";
            return a;
        }
        if (req.method == "GET" || req.method == "HEAD") {
            a.content_type = std::string(ContentTypeFor(AnswerCharset::Ascii));
            a.body = ServerRunningAnswer();
            a.head_only = req.method == "HEAD";
            a.what = "status";
            return a;
        }
        if (req.method != "POST") {
            a.content_type = std::string(ContentTypeFor(AnswerCharset::Ascii));
            a.body = UnknownRequestAnswer();
            a.what = "unknown method";
            return a;
        }
        const DecodedBody decoded = DecodeRequestBody(req.Header("content-type"), req.body);
        a.charset = decoded.answer;
        a.content_type = std::string(ContentTypeFor(decoded.answer));
        if (!decoded.ok) {
            a.body = Encode(UnknownRequestAnswer(), a.charset);
            a.what = "body does not match its charset: unknown request";
            return a;
        }
        const Envelope env = ReadEnvelope(decoded.text);
        switch (env.kind) {
            case RequestKind::Import:
                if (opt.fault == Fault::NoCompany) {
                    a.body = Encode(NoCompanyAnswer(true), a.charset);
                    a.what = "import: no company (fault)";
                } else {
                    a.body = Encode(ImportAnswer(env.import_objects), a.charset);
                    a.what = "import of " + std::to_string(env.import_objects) + " objects";
                }
                return a;
            case RequestKind::UnknownReport:
                a.body = Encode(NoReportAnswer(env.report), a.charset);
                a.what = "export of unknown report '" + env.report + "'";
                return a;
            case RequestKind::Unknown:
                a.body = Encode(UnknownRequestAnswer(), a.charset);
                a.what = "unknown request";
                return a;
            case RequestKind::Export:
                break;
        }
        if (env.from) a.period.from = ParseTallyDate(*env.from);
        if (env.to) a.period.to = ParseTallyDate(*env.to);
        a.what = "export " + PeriodText(env.from, env.to, a.period);
        switch (opt.fault) {
            case Fault::NoCompany:
                a.body = Encode(NoCompanyAnswer(false), a.charset);
                a.what += ": no company (fault)";
                return a;
            case Fault::NoAddon:
                a.body = Encode(NoReportAnswer("TallyToTally"), a.charset);
                a.what += ": no add-on (fault)";
                return a;
            case Fault::Empty:
                a.what += ": empty (fault)";
                return a;
            default:
                break;
        }
        a.cuttable = true;
        if (!opt.replay_file.empty() && opt.fault != Fault::Malformed) {
            a.source = Answer::Body::Replay;
            std::string cs = opt.replay_charset.empty() ? GuessReplayCharset(opt.replay_file)
                                                        : opt.replay_charset;
            a.content_type = cs == "none" ? "text/xml" : "text/xml; charset=" + cs;
            a.what += ": replay of " + opt.replay_file;
            return a;
        }
        a.source = Answer::Body::Generated;
        a.flaws.bare_ampersand = opt.fault == Fault::Malformed;
        a.what += ": " + std::to_string(company.VouchersIn(a.period)) + " vouchers";
        if (a.flaws.bare_ampersand) a.what += ", bare ampersand (fault)";
        return a;
    }

    // Holds a stalled connection until the client gives up or we are stopped.
    static void Hold(int fd) {
        for (;;) {
            if (WaitFor(fd, POLLIN | POLLRDHUP, -1) != Wait::Ready) return;
            char tmp[4096];
            const ssize_t n = recv(fd, tmp, sizeof tmp, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
        }
    }

    void Handle(Fd client, const std::string& peer) {
        const auto t0 = Clock::now();
        Request req;
        const ReadResult rr = RequestReader(client.get()).Read(req);
        if (rr == ReadResult::Stop) return;
        if (rr != ReadResult::Ok) {
            if (rr == ReadResult::Bad || rr == ReadResult::TooLarge) {
                SendAll(client.get(),
                        "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            }
            std::fprintf(stderr, "tally-standin: %s: %s\n", peer.c_str(), ReadResultText(rr));
            return;
        }
        Answer a = Decide(req);
        if (opt.fault == Fault::Slow && !SleepFor(opt.delay_s)) return;

        Fd replay;
        std::size_t replay_size = 0;
        if (a.source == Answer::Body::Replay) {
            replay = Fd(open(opt.replay_file.c_str(), O_RDONLY | O_CLOEXEC));
            struct stat st {};
            if (replay.get() < 0 || fstat(replay.get(), &st) != 0) {
                std::fprintf(stderr, "tally-standin: cannot read %s: %s\n", opt.replay_file.c_str(),
                             std::strerror(errno));
                return;
            }
            replay_size = static_cast<std::size_t>(st.st_size);
        }

        std::string head = "HTTP/1.1 " + std::to_string(a.status) + " " + StatusText(a.status) +
                           "\r\nContent-Type: " + a.content_type + "\r\n";
        if (a.source == Answer::Body::Generated) {
            head += "Transfer-Encoding: chunked\r\n";
        } else {
            const std::size_t length = a.source == Answer::Body::Replay ? replay_size : a.body.size();
            head += "Content-Length: " + std::to_string(length) + "\r\n";
        }
        head += "Connection: close\r\n\r\n";

        Sent sent = SendAll(client.get(), head, !a.head_only);
        const bool cut = a.cuttable && (opt.fault == Fault::Reset || opt.fault == Fault::Stall);
        // A replayed file shorter than the cut point is still cut, half-way.
        const std::size_t cut_at = a.source == Answer::Body::Replay
                                       ? std::min(kCutBytes, replay_size / 2)
                                       : kCutBytes;
        BodyWriter body(client.get(), opt.rate_mb_per_s * 1e6,
                        cut ? std::optional<std::size_t>(cut_at) : std::nullopt);
        if (sent == Sent::Ok && !a.head_only) {
            switch (a.source) {
                case Answer::Body::Fixed:
                    sent = body.Put(a.body);
                    break;
                case Answer::Body::Replay:
                    sent = body.PutFile(replay.get(), replay_size);
                    break;
                case Answer::Body::Generated: {
                    ExportStream stream(company, a.period, a.flaws);
                    sent = StreamChunked(body, stream, a.charset);
                    break;
                }
            }
        }
        std::string outcome;
        if (sent == Sent::Cut) {
            if (opt.fault == Fault::Reset) {
                // Linger 0: close sends RST, so the client sees the answer break off.
                linger lg{1, 0};
                setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
                outcome = ", connection reset (fault)";
            } else {
                std::fprintf(stderr, "tally-standin: %s: stalling after %zu bytes (fault)\n",
                             peer.c_str(), body.sent());
                Hold(client.get());
                outcome = ", stalled until the client left (fault)";
            }
        } else if (sent == Sent::Gone) {
            outcome = ", client gone";
        } else if (sent == Sent::Stop) {
            outcome = ", stopped";
        }
        const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
        std::fprintf(stderr, "tally-standin: %s %s %s %zu B %s -> %s -> %d, %zu B in %.3f s%s\n",
                     peer.c_str(), req.method.c_str(), req.target.c_str(), req.body.size(),
                     a.charset == AnswerCharset::Utf16Le ? "utf-16" : "8-bit", a.what.c_str(),
                     a.status, body.sent(), secs, outcome.c_str());
    }

    static Sent StreamChunked(BodyWriter& body, ExportStream& stream, AnswerCharset charset) {
        std::string utf8;
        std::string wire;
        utf8.reserve(kPieceBytes + 16 * 1024);
        wire.reserve(2 * kPieceBytes + 32 * 1024);
        for (;;) {
            utf8.clear();
            if (!stream.Next(utf8, kPieceBytes)) break;
            wire.clear();
            AppendEncoded(utf8, charset, wire);
            char frame[24];
            const int len = std::snprintf(frame, sizeof frame, "%zx\r\n", wire.size());
            if (Sent s = body.Put({frame, static_cast<std::size_t>(len)}, true); s != Sent::Ok) {
                return s;
            }
            wire += "\r\n";
            if (Sent s = body.Put(wire); s != Sent::Ok) return s;
        }
        return body.Put("0\r\n\r\n");
    }
};

StandinServer::StandinServer(ServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

StandinServer::~StandinServer() = default;

int StandinServer::Listen() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* res = nullptr;
    const std::string port = std::to_string(impl_->opt.port);
    if (const int rc = getaddrinfo(impl_->opt.bind.c_str(), port.c_str(), &hints, &res); rc != 0) {
        throw std::runtime_error("cannot use address " + impl_->opt.bind + ": " + gai_strerror(rc));
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(res, freeaddrinfo);
    Fd fd(socket(res->ai_family, res->ai_socktype | SOCK_CLOEXEC, res->ai_protocol));
    if (fd.get() < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd.get(), res->ai_addr, res->ai_addrlen) != 0 || listen(fd.get(), 16) != 0) {
        throw std::runtime_error("cannot listen on " + impl_->opt.bind + ":" + port + ": " +
                                 std::strerror(errno));
    }
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    impl_->port = addr.ss_family == AF_INET
                      ? ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port)
                      : ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    impl_->listener = std::move(fd);
    InstallSignalHandlers();
    return impl_->port;
}

std::string StandinServer::Url() const {
    const std::string& host = impl_->opt.bind;
    const bool v6 = host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(impl_->port);
}

int StandinServer::Serve() {
    const int lfd = impl_->listener.get();
    for (;;) {
        if (WaitFor(lfd, POLLIN, -1) != Wait::Ready) break;
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        Fd client(accept4(lfd, reinterpret_cast<sockaddr*>(&addr), &len,
                          SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (client.get() < 0) continue;
        const int one = 1;
        setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const std::string peer = PeerName(addr);
        // One request that goes wrong (out of memory, say) must not take the server down.
        try {
            impl_->Handle(std::move(client), peer);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tally-standin: %s: request dropped: %s\n", peer.c_str(), e.what());
        }
    }
    std::fprintf(stderr, "tally-standin: stopped\n");
    return 0;
}

}  // namespace korvane::standin
