#include "core/tally_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/export_request.h"
#include "core/probe.h"
#include "core/tally_result.h"
#include "standin_process.h"

namespace korvane {
namespace {

TEST(TallyClient, UrlIsAddressAndPortAsGiven) {
    const struct {
        std::string address;
        std::int32_t port;
        std::string url;
    } cases[] = {
        {"127.0.0.1", 9000, "http://127.0.0.1:9000"},
        {"tally-server", -1, "http://tally-server:-1"},
        {" 10.0.0.5 ", 0, "http:// 10.0.0.5 :0"},
        {std::string("host\0rest", 9), 80, "http://host:80"},
        {"", 2147483647, "http://:2147483647"},
    };
    for (const auto& c : cases) EXPECT_EQ(TallyUrl(c.address, c.port), c.url);
}

// Every failure of the exchange gives the one code, an empty TallyResponse, no exception.
TEST(TallyClient, FailuresAreUnreachable) {
    const int closedPort = testing::UnusedLoopbackPort();
    const struct {
        const char* what;
        std::string address;
        std::int32_t port;
    } cases[] = {
        {"nothing listens", "127.0.0.1", closedPort},
        {"unknown host", "no-tally-here.invalid", 9000},
        {"blank in the host", "127.0.0.1 ", 9000},
        {"negative port", "127.0.0.1", -1},
        {"port beyond 65535", "127.0.0.1", 70000},
        {"no host", "", 9000},
        {"a path smuggled into the host", "127.0.0.1:1/x", 9000},
    };
    for (const auto& c : cases) {
        TallyResponse = "answer of an earlier exchange";
        EXPECT_EQ(PostToTally(ProbeEnvelope, c.address, c.port), TALLY_UNREACHABLE) << c.what;
        EXPECT_EQ(TallyResponse, "") << c.what;

        struct : TallyAnswerConsumer {
            void OnText(std::string_view) override { ADD_FAILURE() << "text without an answer"; }
        } consumer;
        TallyExchangeResult r = PostToTallyStreaming(ProbeEnvelope, c.address, c.port, consumer);
        EXPECT_EQ(r.code, TALLY_UNREACHABLE) << c.what;
        EXPECT_FALSE(r.failure.empty()) << c.what;
    }
}

// Takes one request on a loopback port, keeps its bytes and answers with an empty 200.
class OneRequestServer {
public:
    OneRequestServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("cannot listen on loopback");
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~OneRequestServer() {
        thread_.join();
        close(listener_);
    }
    int Port() const { return port_; }
    // Valid once the exchange has returned.
    const std::string& Head() const { return head_; }
    const std::string& Body() const { return body_; }

private:
    void Serve() {
        const int c = accept(listener_, nullptr, nullptr);
        if (c < 0) return;
        std::string raw;
        char buffer[65536];
        std::size_t length = std::string::npos;
        std::size_t headEnd = std::string::npos;
        while (headEnd == std::string::npos || raw.size() < headEnd + 4 + length) {
            const ssize_t n = recv(c, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            raw.append(buffer, static_cast<std::size_t>(n));
            if (headEnd == std::string::npos && (headEnd = raw.find("\r\n\r\n")) != std::string::npos) {
                const std::size_t at = raw.find("Content-Length: ");
                length = at < headEnd ? std::stoul(raw.substr(at + 16)) : 0;
            }
        }
        if (headEnd != std::string::npos) {
            head_ = raw.substr(0, headEnd + 2);
            body_ = raw.substr(headEnd + 4);
        }
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        (void)!send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(c);
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::string head_;
    std::string body_;
};

// The envelope goes out as UTF-16LE under its charset, to the bare URL, without the
// "Expect: 100-continue" that libcurl would add to a body this large.
TEST(TallyClient, PostsTheEnvelopeAsUtf16WithoutExpect) {
    // é as UTF-8, a lone byte 0xE9 that is not UTF-8 (kept as the Windows-1252 é), the rupee
    // sign, and a character beyond 16 bits (a surrogate pair).
    const std::string envelope = "<A>\xC3\xA9\xE9\xE2\x82\xB9\xF0\x9F\x98\x80" +
                                 std::string(1 << 20, 'x') + "</A>";
    std::string expected = std::string("<\0A\0>\0\xE9\0\xE9\0\xB9\x20\x3D\xD8\x00\xDE", 16);
    for (int i = 0; i < (1 << 20); ++i) expected += std::string("x\0", 2);
    expected += std::string("<\0/\0A\0>\0", 8);

    OneRequestServer server;
    EXPECT_EQ(PostToTally(envelope, "127.0.0.1", server.Port()), TALLY_OK);
    EXPECT_EQ(TallyResponse, "");
    EXPECT_EQ(server.Head().rfind("POST / HTTP/1.1\r\n", 0), 0u) << server.Head();
    EXPECT_NE(server.Head().find("\r\nContent-Type: text/xml;charset=utf-16\r\n"),
              std::string::npos)
        << server.Head();
    EXPECT_EQ(server.Head().find("Expect"), std::string::npos) << server.Head();
    EXPECT_TRUE(server.Body() == expected) << "body of " << server.Body().size() << " bytes";
}

#ifdef TALLY_STANDIN_PATH

std::string ExportEnvelope() { return BuildExportRequest("1/4/2024", "31/3/2025").text; }

class Collector : public TallyAnswerConsumer {
public:
    void OnText(std::string_view text) override {
        ++pieces;
        text_.append(text);
    }
    void OnProgress(std::uint64_t bytes) override {
        EXPECT_GE(bytes, lastProgress);
        lastProgress = bytes;
    }
    std::string text_;
    int pieces = 0;
    std::uint64_t lastProgress = 0;
};

TEST(TallyClientStandin, ExportAnswerKeepsWindows1252AndCountsTheRest) {
    testing::StandinProcess tally(TALLY_STANDIN_PATH, {"--vouchers", "300"});
    Collector collector;
    TallyExchangeResult r =
        PostToTallyStreaming(ExportEnvelope(), tally.Address(), tally.Port(), collector);
    ASSERT_EQ(r.code, TALLY_OK) << r.failure;
    const std::string& text = collector.text_;
    EXPECT_EQ(text.rfind("<ENVELOPE>", 0), 0u) << text.substr(0, 200);
    EXPECT_NE(text.find("<VOUCHER "), std::string::npos);
    EXPECT_NE(text.find('\xE9'), std::string::npos) << "é lost";
    EXPECT_EQ(text.find('\0'), std::string::npos) << "UTF-16 taken for single bytes";
    EXPECT_GT(r.replacedCharacters, 0u) << "rupee sign and Devanagari must be replaced";
    EXPECT_LE(collector.lastProgress, r.bytesReceived);
    // UTF-16: two bytes a character, all of it passed on.
    EXPECT_GE(r.bytesReceived, 2 * text.size());
    EXPECT_GT(collector.pieces, 1);

    // The collecting form gives the same text.
    TallyResponse = "stale";
    EXPECT_EQ(PostToTally(ExportEnvelope(), tally.Address(), tally.Port()), TALLY_OK);
    EXPECT_EQ(TallyResponse, text);
}

TEST(TallyClientStandin, ProbeIsAnswered) {
    testing::StandinProcess tally(TALLY_STANDIN_PATH);
    EXPECT_EQ(PostToTally(ProbeEnvelope, "127.0.0.1", tally.Port()), TALLY_OK);
    // An import answer, so the UTF-16 body matched its declared charset.
    EXPECT_NE(TallyResponse.find("<CREATED>0</CREATED>"), std::string::npos) << TallyResponse;
    EXPECT_EQ(PostToTally(ProbeEnvelope, "localhost", tally.Port()), TALLY_OK);
}

TEST(TallyClientStandin, FaultModes) {
    const struct {
        std::vector<std::string> arguments;
        std::int32_t code;
        const char* inAnswer;  // nullptr: the answer is empty
    } cases[] = {
        {{"--fault", "no-company"}, TALLY_NO_COMPANY, "Could not find Company"},
        {{"--fault", "no-addon"}, TALLY_OK, "Could not find Report &apos;TallyToTally&apos;!"},
        {{"--fault", "empty"}, TALLY_OK, nullptr},
        {{"--fault", "malformed"}, TALLY_OK, "<ENVELOPE>"},
        {{"--fault", "http-500"}, TALLY_OK, "500"},  // the status is never looked at
        {{"--fault", "reset"}, TALLY_UNREACHABLE, nullptr},
        {{"--fault", "slow", "--delay", "0.3"}, TALLY_OK, "<ENVELOPE>"},
    };
    for (const auto& c : cases) {
        const std::string& fault = c.arguments[1];
        testing::StandinProcess tally(TALLY_STANDIN_PATH, c.arguments);
        TallyResponse = "answer of an earlier exchange";
        EXPECT_EQ(PostToTally(ExportEnvelope(), tally.Address(), tally.Port()), c.code) << fault;
        if (c.inAnswer == nullptr) {
            EXPECT_EQ(TallyResponse, "") << fault;
        } else {
            EXPECT_NE(TallyResponse.find(c.inAnswer), std::string::npos)
                << fault << ": " << TallyResponse.substr(0, 300);
        }
    }
}

// Answers played back byte for byte under a given charset label.
TEST(TallyClientStandin, EachAnswerEncoding) {
    auto le = [](std::u16string_view s, bool bigEndian = false) {
        std::string b;
        for (char16_t u : s) {
            char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            b += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return b;
    };
    const struct {
        const char* what;
        std::string bytes;
        const char* charset;
        std::int32_t code;
        std::string expected;
        std::uint64_t replaced;
    } cases[] = {
        {"UTF-16LE as Tally sends it", le(u"<A>\u00E9\u20B9\U0001F600</A>"), "utf-16", TALLY_OK,
         "<A>\xE9?"
         "?</A>",
         2},
        {"UTF-16BE with its mark under a utf-16 label", "\xFE\xFF" + le(u"<A>\u20AC</A>", true),
         "utf-16", TALLY_OK, "<A>\x80</A>", 0},
        {"UTF-8", "<A>\xC3\xA9\xE2\x82\xB9</A>", "utf-8", TALLY_OK, "<A>\xE9?</A>", 1},
        {"UTF-8 with its mark and no label", "\xEF\xBB\xBF<A>\xC3\xA9</A>", "none", TALLY_OK,
         "<A>\xE9</A>", 0},
        {"Windows-1252", "<A>\xE9\x80</A>", "windows-1252", TALLY_OK, "<A>\xE9\x80</A>", 0},
        {"no label, old single-byte text", "<A>caf\xE9</A>", "none", TALLY_OK, "<A>caf\xE9</A>", 0},
        {"no-company tag in UTF-16", le(u"<RESPONSE><LINEERROR ID=\"1\">x</LINEERROR>"), "utf-16",
         TALLY_NO_COMPANY, "<RESPONSE><LINEERROR ID=\"1\">x</LINEERROR>", 0},
        {"UTF-16 cut inside a character", le(u"<A/>") + "<", "utf-16", TALLY_UNREACHABLE, "", 0},
    };
    const std::string file = ::testing::TempDir() + "korvane-replay-" + std::to_string(getpid());
    for (const auto& c : cases) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.bytes;
        testing::StandinProcess tally(TALLY_STANDIN_PATH,
                                      {"--replay", file, "--replay-charset", c.charset});
        Collector collector;
        TallyExchangeResult r =
            PostToTallyStreaming(ExportEnvelope(), tally.Address(), tally.Port(), collector);
        EXPECT_EQ(r.code, c.code) << c.what << " " << r.failure;
        EXPECT_EQ(r.bytesReceived, c.bytes.size()) << c.what;
        if (c.code != TALLY_UNREACHABLE) {
            EXPECT_EQ(collector.text_, c.expected) << c.what;
            EXPECT_EQ(r.replacedCharacters, c.replaced) << c.what;
        }
        TallyResponse = "stale";
        EXPECT_EQ(PostToTally(ExportEnvelope(), tally.Address(), tally.Port()), c.code) << c.what;
        EXPECT_EQ(TallyResponse, c.code == TALLY_UNREACHABLE ? "" : c.expected) << c.what;
    }
    std::remove(file.c_str());
}

TEST(TallyClientStandin, FailureEmptiesAFilledResponse) {
    int port = 0;
    {
        testing::StandinProcess tally(TALLY_STANDIN_PATH);
        port = tally.Port();
        ASSERT_EQ(PostToTally(ProbeEnvelope, "127.0.0.1", port), TALLY_OK);
        ASSERT_FALSE(TallyResponse.empty());
    }
    EXPECT_EQ(PostToTally(ProbeEnvelope, "127.0.0.1", port), TALLY_UNREACHABLE);  // server gone
    EXPECT_EQ(TallyResponse, "");
}

TEST(TallyClientStandin, ConsumerExceptionsReachTheCaller) {
    testing::StandinProcess tally(TALLY_STANDIN_PATH, {"--vouchers", "200"});
    struct : TallyAnswerConsumer {
        void OnText(std::string_view) override { throw std::length_error("disk full"); }
    } throwing;
    EXPECT_THROW(PostToTallyStreaming(ExportEnvelope(), tally.Address(), tally.Port(), throwing),
                 std::length_error);
    // The server is free again for the next exchange.
    EXPECT_EQ(PostToTally(ProbeEnvelope, tally.Address(), tally.Port()), TALLY_OK);
}

// A server that stops sending holds the exchange open (there is no overall time-out); the
// consumer can give up from OnProgress.
TEST(TallyClientStandin, ConsumerCanGiveUpOnAStalledServer) {
    testing::StandinProcess tally(TALLY_STANDIN_PATH, {"--fault", "stall"});
    struct GiveUp {};
    struct : TallyAnswerConsumer {
        void OnText(std::string_view) override {}
        void OnProgress(std::uint64_t bytes) override {
            if (bytes > 0 && bytes == last && ++idle >= 2) throw GiveUp{};
            if (bytes != last) idle = 0;
            last = bytes;
        }
        std::uint64_t last = 0;
        int idle = 0;
    } impatient;
    EXPECT_THROW(PostToTallyStreaming(ExportEnvelope(), tally.Address(), tally.Port(), impatient),
                 GiveUp);
}

#endif

}  // namespace
}  // namespace korvane
