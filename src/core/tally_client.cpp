#include "core/tally_client.h"

#include "core/windows1252.h"

#include <curl/curl.h>

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "core/response_decoder.h"

namespace korvane {

std::string TallyResponse;

namespace {

// libcurl's global set-up, done once for the whole program; never undone, since other threads
// of a process may still hold handles at exit.
bool CurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct CurlEasyFree {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct CurlListFree {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// The envelope as UTF-16LE without a byte-order mark. A byte that is not valid UTF-8 is read
// as a Windows-1252 byte, so nothing the user typed is dropped.
std::string Utf8ToUtf16LE(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    auto putUnit = [&out](char16_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        unsigned char b = p[i];
        if (b < 0x80) {
            putUnit(b);
            ++i;
            continue;
        }
        const int length = b >= 0xC2 && b <= 0xDF   ? 2
                           : b >= 0xE0 && b <= 0xEF ? 3
                           : b >= 0xF0 && b <= 0xF4 ? 4
                                                    : 0;
        char32_t cp = 0;
        bool valid = length > 0 && i + length <= n;
        if (valid) {
            cp = length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
            for (int k = 1; k < length; ++k) {
                unsigned char c = p[i + k];
                if ((c & 0xC0) != 0x80) {
                    valid = false;
                    break;
                }
                cp = (cp << 6) | (c & 0x3F);
            }
            // Overlong forms, surrogates and values past U+10FFFF are not valid.
            static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (valid && (cp < kMin[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF))
                valid = false;
        }
        if (!valid) {
            putUnit(Windows1252ToUnicode(b));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            putUnit(static_cast<char16_t>(0xD800 + (cp >> 10)));
            putUnit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            putUnit(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

// What the libcurl callbacks share with the exchange. The callbacks catch every exception:
// none may cross libcurl's C frames.
struct Exchange {
    TallyAnswerConsumer& consumer;
    std::string contentType;
    std::optional<ResponseDecoder> decoder;
    NoCompanyScanner scanner;
    std::string text;  // decoded piece, reused from chunk to chunk
    std::uint64_t bytesReceived = 0;
    std::exception_ptr consumerError;  // rethrown to the caller
    std::string failure;               // a failure of our own, reported as unreachable

    explicit Exchange(TallyAnswerConsumer& c) : consumer(c) {}

    // Decoded text goes to the scanner, then to the consumer.
    void Pass(const std::string& piece) {
        scanner.Feed(piece);
        if (!piece.empty()) consumer.OnText(piece);
    }
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* ex = static_cast<Exchange*>(user);
    const size_t n = size * count;
    try {
        std::string_view line(data, n);
        if (line.substr(0, 5) == "HTTP/") {
            ex->contentType.clear();  // a new response (after an interim 1xx) starts afresh
            return n;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return n;
        std::string name(line.substr(0, colon));
        for (char& c : name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (name == "content-type") {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
                value.remove_prefix(1);
            while (!value.empty() && (value.back() == '\r' || value.back() == '\n' ||
                                      value.back() == ' ' || value.back() == '\t'))
                value.remove_suffix(1);
            ex->contentType.assign(value);
        }
        return n;
    } catch (...) {
        ex->failure = "out of memory while reading the headers";
        return 0;
    }
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* ex = static_cast<Exchange*>(user);
    const size_t n = size * count;
    ex->bytesReceived += n;
    try {
        if (!ex->decoder) ex->decoder.emplace(ex->contentType);
        ex->text.clear();
        ex->decoder->Feed(std::string_view(data, n), ex->text);
    } catch (const std::exception& e) {
        ex->failure = std::string("the answer could not be decoded: ") + e.what();
        return 0;
    }
    try {
        ex->Pass(ex->text);
    } catch (...) {
        ex->consumerError = std::current_exception();
        return 0;
    }
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* ex = static_cast<Exchange*>(user);
    try {
        ex->consumer.OnProgress(ex->bytesReceived);
    } catch (...) {
        ex->consumerError = std::current_exception();
        return 1;
    }
    return 0;
}

}  // namespace

std::string TallyUrl(std::string_view address, std::int32_t port) {
    // The address is a zero-terminated text: it ends at its first NUL.
    address = address.substr(0, address.find('\0'));
    std::string url = "http://";
    url.append(address);
    url.push_back(':');
    url.append(std::to_string(port));
    return url;
}

namespace {

TallyExchangeResult Perform(Exchange& ex, std::string_view envelopeUtf8, std::string_view address,
                            std::int32_t port) {
    TallyExchangeResult result;
    auto fail = [&result, &ex](std::string why) {
        result.code = TALLY_UNREACHABLE;
        result.failure = std::move(why);
        return result;
    };
    if (!CurlReady()) return fail("libcurl could not be initialised");
    std::unique_ptr<CURL, CurlEasyFree> curl(curl_easy_init());
    if (!curl) return fail("libcurl could not create a handle");

    const std::string url = TallyUrl(address, port);
    // Tally answers in UTF-16 (and so keeps every character) only when asked in UTF-16; it
    // refuses a body whose encoding differs from the declared charset.
    const std::string body = Utf8ToUtf16LE(envelopeUtf8);
    std::unique_ptr<curl_slist, CurlListFree> headers(
        curl_slist_append(nullptr, "Content-Type: text/xml;charset=utf-16"));
    // libcurl would announce larger bodies with "Expect: 100-continue", which a server that
    // does not answer it turns into a second's wait.
    curl_slist* withExpect = headers ? curl_slist_append(headers.get(), "Expect:") : nullptr;
    if (withExpect == nullptr) return fail("out of memory");

    char errorText[CURL_ERROR_SIZE] = {};
    CURL* h = curl.get();
    const bool ok =
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_URL, url.c_str()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_POST, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data()) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) ==
            CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
        // Tally sits on this machine or the LAN: a proxy named in the environment would only
        // get in the way.
        curl_easy_setopt(h, CURLOPT_NOPROXY, "*") == CURLE_OK &&
        // Give up on a dead address instead of hanging; once connected there is no limit,
        // since a big export takes long.
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 15L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        // A Tally machine that vanishes mid-answer is noticed instead of waited for forever.
        curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_TCP_KEEPIDLE, 60L) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_TCP_KEEPINTVL, 20L) == CURLE_OK &&
        // Larger pieces mean fewer trips through the decoding chain on big answers.
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 1024L * 1024) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &ex) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &ex) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &ex) == CURLE_OK &&
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (!ok) return fail("libcurl refused an option");

    const CURLcode rc = curl_easy_perform(h);
    if (ex.consumerError) return result;  // the caller rethrows it
    if (rc != CURLE_OK) {
        if (!ex.failure.empty()) return fail(ex.failure);
        std::string why = curl_easy_strerror(rc);
        if (errorText[0] != '\0') why += std::string(": ") + errorText;
        return fail(why);
    }
    if (ex.decoder) {
        ex.text.clear();
        try {
            ex.decoder->Finish(ex.text);
        } catch (const std::exception& e) {
            return fail(std::string("the answer could not be decoded: ") + e.what());
        }
        try {
            ex.Pass(ex.text);
        } catch (...) {
            ex.consumerError = std::current_exception();
            return result;
        }
    }
    result.code = ex.scanner.Found() ? TALLY_NO_COMPANY : TALLY_OK;
    return result;
}

}  // namespace

TallyExchangeResult PostToTallyStreaming(std::string_view envelopeUtf8, std::string_view address,
                                         std::int32_t port, TallyAnswerConsumer& consumer) {
    Exchange ex(consumer);
    TallyExchangeResult result;
    try {
        result = Perform(ex, envelopeUtf8, address, port);
    } catch (const std::exception& e) {
        // Out of memory or the like in our own part: a failure of the exchange.
        result.code = TALLY_UNREACHABLE;
        result.failure = e.what();
    }
    if (ex.consumerError) std::rethrow_exception(ex.consumerError);
    result.bytesReceived = ex.bytesReceived;
    result.replacedCharacters = ex.decoder ? ex.decoder->ReplacedCount() : 0;
    return result;
}

namespace {
class CollectingConsumer : public TallyAnswerConsumer {
public:
    CollectingConsumer(std::string& into, const TallyProgress& progress)
        : into_(into), progress_(progress) {}
    void OnText(std::string_view text) override { into_.append(text); }
    void OnProgress(std::uint64_t bytesReceived) override {
        if (progress_) progress_(bytesReceived);
    }

private:
    std::string& into_;
    const TallyProgress& progress_;
};
}  // namespace

std::int32_t PostToTally(std::string_view envelopeUtf8, std::string_view address,
                         std::int32_t port, const TallyProgress& progress) {
    TallyResponse.clear();
    std::string answer;
    CollectingConsumer consumer(answer, progress);
    try {
        TallyExchangeResult r = PostToTallyStreaming(envelopeUtf8, address, port, consumer);
        if (r.code == TALLY_UNREACHABLE) return TALLY_UNREACHABLE;
        TallyResponse = std::move(answer);
        return r.code;
    } catch (...) {
        // An answer too big to hold is a failure of the exchange like any other.
        return TALLY_UNREACHABLE;
    }
}

}  // namespace korvane
