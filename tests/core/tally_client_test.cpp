#include "core/tally_client.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
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
