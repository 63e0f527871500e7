#include "core/tally_client.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(r.bytesReceived, collector.lastProgress == 0 ? r.bytesReceived : r.bytesReceived);
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
    EXPECT_NE(TallyResponse.find("<RESPONSE>"), std::string::npos) << TallyResponse;
    EXPECT_EQ(PostToTally(ProbeEnvelope, "localhost", tally.Port()), TALLY_OK);
}

TEST(TallyClientStandin, FaultModes) {
    const struct {
        const char* fault;
        std::int32_t code;
        const char* inAnswer;  // nullptr: the answer is empty
    } cases[] = {
        {"no-company", TALLY_NO_COMPANY, "Could not find Company"},
        {"no-addon", TALLY_OK, "Could not find Report 'TallyToTally'"},
        {"empty", TALLY_OK, nullptr},
        {"malformed", TALLY_OK, "<ENVELOPE>"},
        {"http-500", TALLY_OK, "500"},  // the status is never looked at
        {"reset", TALLY_UNREACHABLE, nullptr},
        {"slow", TALLY_OK, "<ENVELOPE>"},
    };
    for (const auto& c : cases) {
        testing::StandinProcess tally(TALLY_STANDIN_PATH, {"--fault", c.fault});
        TallyResponse = "answer of an earlier exchange";
        EXPECT_EQ(PostToTally(ExportEnvelope(), tally.Address(), tally.Port()), c.code) << c.fault;
        if (c.inAnswer == nullptr) {
            EXPECT_EQ(TallyResponse, "") << c.fault;
        } else {
            EXPECT_NE(TallyResponse.find(c.inAnswer), std::string::npos) << c.fault << ": " << TallyResponse.substr(0, 300);
        }
    }
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
