#include "core/probe.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <memory>
#include <string>
#include <vector>

#include "core/port_text.h"
#include "core/tally_client.h"
#include "core/tally_result.h"
#include "standin_process.h"

namespace korvane {
namespace {

class ScriptedQuestions : public ProbeQuestions {
public:
    explicit ScriptedQuestions(bool answer) : answer_(answer) {}
    bool AskYesNo(const std::string& question) override {
        asked.push_back(question);
        return answer_;
    }
    std::vector<std::string> asked;

private:
    bool answer_;
};

struct Halted {
    int code;
};

class RecordingControl : public ApplicationControl {
public:
    void Terminate() override { calls.push_back("terminate"); }
    [[noreturn]] void Halt(int exitCode) override {
        calls.push_back("halt " + std::to_string(exitCode));
        throw Halted{exitCode};
    }
    std::vector<std::string> calls;
};

TEST(Probe, EnvelopeIsTheEmptyImportRequest) {
    ASSERT_EQ(ProbeEnvelope.size(), 256u);
    EXPECT_EQ(
        ProbeEnvelope,
        "<ENVELOPE><HEADER><TALLYREQUEST>Import Data</TALLYREQUEST></HEADER><BODY><IMPORTDATA>"
        "<REQUESTDESC><REPORTNAME>All Masters</REPORTNAME></REQUESTDESC><REQUESTDATA>"
        "<TALLYMESSAGE xmlns:UDF=\"TallyUDF\"></TALLYMESSAGE></REQUESTDATA></IMPORTDATA>"
        "</BODY></ENVELOPE>");
    // Well-formed, with an empty TALLYMESSAGE.
    std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc(
        xmlReadMemory(ProbeEnvelope.data(), static_cast<int>(ProbeEnvelope.size()), nullptr,
                      nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR),
        xmlFreeDoc);
    EXPECT_TRUE(doc);
}

TEST(Probe, QuestionsUseCarriageReturnsAsLineBreaks) {
    EXPECT_STREQ(ProbeNoCompanyQuestion,
                 "No Company is open in Tally!!!\x0D"
                 "Atleast one company must be open in Tally.\x0D\x0D"
                 "You must start Tally Software and open the\x0D"
                 "Company in which data is to be imported.\x0DWant to retry ?");
    EXPECT_STREQ(ProbeUnreachableQuestion,
                 "Could not Connect to Tally.\x0D\x0DYou must start Tally Software and open the\x0D"
                 "Company in which data is to be imported.\x0DWant to retry ?");
}

TEST(Probe, PortTextThatIsNotAWholeNumberFailsBeforeAnythingIsSent) {
    for (const char* text : {"9000 ", "", "   ", "90a0", "99999999999"}) {
        ScriptedQuestions questions(true);
        RecordingControl control;
        TallyResponse = "earlier answer";
        try {
            ProbeTally(text, "127.0.0.1", questions, control);
            ADD_FAILURE() << "no conversion error for '" << text << "'";
        } catch (const ConversionError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(text) + "' is not a valid integer value");
        }
        EXPECT_TRUE(questions.asked.empty());
        EXPECT_TRUE(control.calls.empty());
        EXPECT_EQ(TallyResponse, "earlier answer") << "an exchange began for '" << text << "'";
    }
}

TEST(Probe, UnreachableServerAsksToRetry) {
    const std::string port =
        " " + std::to_string(testing::UnusedLoopbackPort());  // leading blank is fine
    {
        ScriptedQuestions yes(true);
        RecordingControl control;
        EXPECT_EQ(ProbeTally(port, "127.0.0.1", yes, control), TALLY_UNREACHABLE);
        EXPECT_EQ(yes.asked, std::vector<std::string>{ProbeUnreachableQuestion});
        EXPECT_TRUE(control.calls.empty());
    }
    {
        // A refused retry ends the program as a failure.
        ScriptedQuestions no(false);
        RecordingControl control;
        try {
            ProbeTally(port, "127.0.0.1", no, control);
            ADD_FAILURE() << "the probe returned after No";
        } catch (const Halted& h) {
            EXPECT_EQ(h.code, 1);
        }
        EXPECT_EQ(control.calls, (std::vector<std::string>{"terminate", "halt 1"}));
    }
}

#ifdef TALLY_STANDIN_PATH
TEST(Probe, AgainstTheStandin) {
    {
        testing::StandinProcess tally(TALLY_STANDIN_PATH);
        ScriptedQuestions questions(false);
        RecordingControl control;
        // The text is zero-terminated: what follows a NUL does not count.
        const std::string portText = std::to_string(tally.Port()) + std::string("\0junk", 5);
        EXPECT_EQ(ProbeTally(portText, "127.0.0.1", questions, control), TALLY_OK);
        EXPECT_TRUE(questions.asked.empty());
        EXPECT_TRUE(control.calls.empty());
    }
    {
        testing::StandinProcess tally(TALLY_STANDIN_PATH, {"--fault", "no-company"});
        ScriptedQuestions yes(true);
        RecordingControl control;
        EXPECT_EQ(ProbeTally(std::to_string(tally.Port()), "127.0.0.1", yes, control),
                  TALLY_NO_COMPANY);
        EXPECT_EQ(yes.asked, std::vector<std::string>{ProbeNoCompanyQuestion});

        ScriptedQuestions no(false);
        EXPECT_THROW(ProbeTally(std::to_string(tally.Port()), "127.0.0.1", no, control), Halted);
        EXPECT_EQ(control.calls, (std::vector<std::string>{"terminate", "halt 1"}));
    }
}
#endif

}  // namespace
}  // namespace korvane
