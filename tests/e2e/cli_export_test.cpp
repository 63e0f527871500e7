// korvane-cli as a separate process against the stand-in Tally over loopback: every outcome of
// an export, the files it leaves, the exit codes, the settings file, probe and decipher.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_process.h"
#include "core/cleaner.h"
#include "core/export_request.h"
#include "core/export_run.h"
#include "core/tally_client.h"
#include "standin_process.h"

namespace korvane::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using korvane::testing::StandinProcess;
using korvane::testing::UnusedLoopbackPort;

constexpr const char* From = "1/4/2024";
constexpr const char* To = "31/3/2025";
using namespace std::string_literals;
const std::string EarlierExport = "an earlier export file\r\n";

class CliExport : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/korvane-e2e-XXXXXX";
        root_ = ::mkdtemp(pattern);
        work_ = root_ / "work";
        outDir_ = root_ / "out";
        fs::create_directory(work_);
        fs::create_directory(outDir_);
        out_ = outDir_ / "Branch Data.dat";
        WriteFile(out_, EarlierExport);
    }
    void TearDown() override { fs::remove_all(root_); }

    CliResult Export(int port, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"export", "--from", From,  "--to",
                                      To,       "--out",  out_, "--port", std::to_string(port)};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCli(work_, args);
    }

    struct Answer {
        std::string cleaned;  // what the export file must hold
        std::uint64_t replaced = 0;
    };

    // What the stand-in answers to the export request, fetched and cleaned in one piece.
    static Answer FetchAnswer(const StandinProcess& tally) {
        struct Collect : TallyAnswerConsumer {
            std::string text;
            void OnText(std::string_view piece) override { text.append(piece); }
        } collect;
        const ExportRequest request = BuildExportRequest(From, To);
        const TallyExchangeResult r =
            PostToTallyStreaming(request.text, tally.Address(), tally.Port(), collect);
        EXPECT_EQ(r.code, TALLY_OK);
        return {strip_invalid_xml(collect.text), r.replacedCharacters};
    }
    static std::string CleanedAnswer(const StandinProcess& tally) {
        return FetchAnswer(tally).cleaned;
    }

    std::string Deciphered() {
        const fs::path plain = root_ / "plain.xml";
        const CliResult r = RunCli(work_, {"decipher", out_, plain});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return ReadFile(plain);
    }

    // An earlier export survives, and no temporary file is left in either folder.
    void ExpectEarlierExportUntouched(const std::vector<std::string>& workFiles = {}) {
        EXPECT_EQ(ReadFile(out_), EarlierExport);
        EXPECT_THAT(Listing(outDir_), ElementsAre(out_.filename().string()));
        EXPECT_EQ(Listing(work_), workFiles);
    }

    std::string ExpectedCountLine(std::uint64_t vouchers) const {
        return VoucherCountLine(out_.string(), vouchers);
    }

    fs::path root_, work_, outDir_, out_;
};

std::uint64_t CountVoucherTags(const std::string& text) {
    std::uint64_t n = 0;
    for (std::size_t at = text.find("<VOUCHER"); at != std::string::npos;
         at = text.find("<VOUCHER", at + 1)) {
        const char next = text[at + 8];
        if (next == '>' || next == ' ' || next == '/' || next == '\t' || next == '\r' ||
            next == '\n')
            ++n;
    }
    return n;
}

fs::path WriteReplay(const fs::path& dir, const std::string& bytes) {
    const fs::path file = dir / "answer.replay";
    WriteFile(file, bytes);
    return file;
}

TEST_F(CliExport, CompletedExportHoldsTheCleanedAnswerEnciphered) {
    StandinProcess tally(TALLY_STANDIN_PATH, {"--seed", "11", "--vouchers", "40"});
    const Answer answer = FetchAnswer(tally);
    const std::string& expected = answer.cleaned;
    ASSERT_FALSE(expected.empty());

    const CliResult r = Export(tally.Port());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<::testing::Matcher<std::string>> lines{
        StartsWith("Process started at "), "Retrieving data...",
        ExpectedCountLine(CountVoucherTags(expected))};
    if (answer.replaced > 0) lines.push_back(ReplacedCharactersLine(answer.replaced));
    lines.push_back(StartsWith("Process completed at "));
    EXPECT_THAT(r.OutLines(), ::testing::ElementsAreArray(lines));
    const std::string file = ReadFile(out_);
    ASSERT_EQ(file.size(), expected.size() + 2);
    EXPECT_EQ(file.substr(file.size() - 2), "\r\n");
    EXPECT_EQ(Deciphered(), expected);
    EXPECT_THAT(Listing(outDir_), ElementsAre(out_.filename().string()));
    EXPECT_TRUE(Listing(work_).empty());
}

TEST_F(CliExport, ReplayedAnswersAreCleanedCountedAndWarnedAbout) {
    struct Case {
        const char* name;
        std::string answer;
        const char* charset;
        std::string expected;  // the plain text of the export file
        std::uint64_t vouchers;
        std::uint64_t replaced;
    };
    const std::string body = "<ENVELOPE><VOUCHER>a</VOUCHER><voucher/><X><VOUCHER/></X></ENVELOPE>";
    const Case cases[] = {
        {"forbidden bytes and &#4; across the text",
         "<ENVELOPE>\x01<VOUCHER>caf\xE9\x0B&#4;\x80</VOUCHER>&\x02#4;\x00<VOUCHER/>"
         "&#4;&#4;</ENVELOPE>\r\n"s,
         "windows-1252", "<ENVELOPE><VOUCHER>caf\xE9\x80</VOUCHER><VOUCHER/></ENVELOPE>\r\n", 2, 0},
        {"UTF-8 with characters Windows-1252 cannot hold",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ENVELOPE><VOUCHER>\xE2\x82\xAC \xCE\xA9 "
         "\xE4\xB8\xAD</VOUCHER></ENVELOPE>",
         "utf-8",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ENVELOPE><VOUCHER>\x80 ? ?</VOUCHER>"
         "</ENVELOPE>",
         1, 2},
        {"letter case of names", body, "utf-8", body, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StandinProcess tally(TALLY_STANDIN_PATH, {"--replay", WriteReplay(root_, c.answer).string(),
                                                  "--replay-charset", c.charset});
        const CliResult r = Export(tally.Port());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<::testing::Matcher<std::string>> lines{
            StartsWith("Process started at "), "Retrieving data...", ExpectedCountLine(c.vouchers)};
        if (c.replaced > 0) lines.push_back(ReplacedCharactersLine(c.replaced));
        lines.push_back(StartsWith("Process completed at "));
        EXPECT_THAT(r.OutLines(), ::testing::ElementsAreArray(lines));
        EXPECT_EQ(Deciphered(), c.expected);
    }
}

TEST_F(CliExport, FailuresLeaveTheEarlierExportAndEndWithTheirExitCodes) {
    struct Case {
        std::vector<std::string> standin;  // empty: nothing listens
        int exitCode;
        std::vector<std::string> lines;    // after "Process started at " and "Retrieving data..."
        std::string message;               // part of standard error
    };
    const Case cases[] = {
        {{}, 3, {}, "Tally is not Running\n"},
        {{"--fault", "reset"}, 3, {}, "Tally is not Running\n"},
        {{"--fault", "no-company"}, 4, {}, "Error:- Company not Open in Tally.\n"},
        {{"--fault", "empty"}, 7, {"No data retrieved from the Tally Company."}, ""},
        {{"--fault", "no-addon"}, 5, {NothingWrittenLine}, "It appears that the KORVANE TCP is not loaded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.standin.empty() ? "nothing listening" : c.standin[1]);
        std::unique_ptr<StandinProcess> tally;
        int port = UnusedLoopbackPort();
        if (!c.standin.empty()) {
            tally = std::make_unique<StandinProcess>(TALLY_STANDIN_PATH, c.standin);
            port = tally->Port();
        }
        const CliResult r = Export(port);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        std::vector<::testing::Matcher<std::string>> lines{StartsWith("Process started at "),
                                                           "Retrieving data..."};
        for (const std::string& line : c.lines) lines.push_back(line);
        EXPECT_THAT(r.OutLines(), ::testing::ElementsAreArray(lines));
        EXPECT_THAT(r.err, HasSubstr(c.message));
        ExpectEarlierExportUntouched();
    }
}

TEST_F(CliExport, AnswerThatDoesNotParseIsSavedInParseErrOfTheWorkingDirectory) {
    struct Case {
        const char* name;
        std::vector<std::string> standin;
        std::string answer;          // replayed; empty: the stand-in's own malformed answer
        std::string parseErr;        // expected Parse.err without its CR LF; empty: fetched
        std::string position;        // part of the message
    };
    const Case cases[] = {
        {"mismatched tag on line 3", {}, "<ENVELOPE>\r\n<VOUCHER>\x01\r\n</VOUCHR></ENVELOPE>",
         "<ENVELOPE>\r\n<VOUCHER>\r\n</VOUCHR></ENVELOPE>", "Line : 3\nLinePos : "},
        {"a reference that the cleaner joins is not removed", {}, "<ENVELOPE>&&#4;#4;</ENVELOPE>",
         "<ENVELOPE>&#4;</ENVELOPE>", "Line : 1\n"},
        {"only bytes the cleaner drops", {}, std::string("\x04\x00\x1f", 3), "", "Line : "},
        {"document type with an external entity", {},
         "<!DOCTYPE ENVELOPE [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><ENVELOPE>&e;</ENVELOPE>",
         "<!DOCTYPE ENVELOPE [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><ENVELOPE>&e;</ENVELOPE>",
         "Line : 1\n"},
        {"the stand-in's malformed answer", {"--fault", "malformed"}, "", "", "Line : "},
        // The status is not looked at: the error page is an answer like any other.
        {"status 500 with an HTML page", {"--fault", "http-500"}, "", "", "Line : "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(work_ / "Parse.err");
        std::vector<std::string> args = c.standin;
        if (!c.answer.empty()) {
            args = {"--replay", WriteReplay(root_, c.answer).string(), "--replay-charset",
                    "windows-1252"};
        }
        StandinProcess tally(TALLY_STANDIN_PATH, args);
        const std::string parseErr = c.answer.empty() && c.parseErr.empty()
                                         ? CleanedAnswer(tally)
                                         : c.parseErr;
        const CliResult r = Export(tally.Port());
        EXPECT_EQ(r.exitCode, 6) << r.err;
        EXPECT_THAT(r.OutLines(),
                    ElementsAre(StartsWith("Process started at "), "Retrieving data..."));
        EXPECT_THAT(r.err, StartsWith("XML Parse Error.\nThis error generally appears"));
        EXPECT_THAT(r.err, HasSubstr(c.position));
        EXPECT_EQ(ReadFile(work_ / "Parse.err"), parseErr + "\r\n");
        ExpectEarlierExportUntouched({"Parse.err"});
    }
}

TEST_F(CliExport, OutputThatCannotBeWrittenFailsAfterTheCountLine) {
    StandinProcess tally(TALLY_STANDIN_PATH, {"--seed", "3", "--vouchers", "2"});
    const fs::path missing = root_ / "no such folder" / "x.dat";
    const CliResult r = RunCli(work_, {"export", "--from", From, "--to", To, "--out", missing,
                                       "--port", std::to_string(tally.Port())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.OutLines(), ElementsAre(StartsWith("Process started at "), "Retrieving data...",
                                          StartsWith("Number of Vouchers exported to file ")));
    EXPECT_THAT(r.err, HasSubstr("Invalid filename"));
    EXPECT_TRUE(Listing(work_).empty());
}

TEST_F(CliExport, KilledRunLeavesTheEarlierFileAndTheNextRunTidiesUp) {
    {
        StandinProcess stalling(TALLY_STANDIN_PATH, {"--fault", "stall"});
        const pid_t cli = StartCli(
            work_,
            {"export", "--from", From, "--to", To, "--out", out_, "--port",
             std::to_string(stalling.Port())},
            root_);
        // The run has its temporary file beside the output once it is under way.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (Listing(outDir_).size() < 2 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(cli, SIGKILL);
        int status = 0;
        ::waitpid(cli, &status, 0);
        EXPECT_EQ(ReadFile(out_), EarlierExport);
        EXPECT_EQ(Listing(outDir_).size(), 2u) << "the killed run's temporary file";
    }
    StandinProcess tally(TALLY_STANDIN_PATH, {"--seed", "5", "--vouchers", "3"});
    const CliResult r = Export(tally.Port());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(Listing(outDir_), ElementsAre(out_.filename().string()));
    EXPECT_EQ(Deciphered(), CleanedAnswer(tally));
}

TEST_F(CliExport, SettingsComeFromKorvaneIniAndTheHomeFolder) {
    StandinProcess tally(TALLY_STANDIN_PATH, {"--seed", "8", "--vouchers", "4"});
    WriteFile(work_ / "korvane.ini", "[Tally]\r\nServerPort=" + std::to_string(tally.Port()) +
                                         "\r\nServerAddress=127.0.0.1\r\n[Configuration]\r\n"
                                         "SVFROMDATE=" + From + "\r\nSVTODATE=" + To + "\r\n");
    const CliResult r = RunCli(work_, {"export"}, {{"HOME", root_.string()}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string file = ReadFile(root_ / "BranchData.dat");
    EXPECT_EQ(file.size(), CleanedAnswer(tally).size() + 2);
    EXPECT_THAT(r.OutLines()[2], HasSubstr("/BRANCHDATA.DAT... [4 nos]"));
}

TEST_F(CliExport, InvalidInputIsAUsageErrorAndNothingIsSent) {
    // Nothing listens: any attempt to reach Tally would give 3, not 2.
    const std::string port = std::to_string(UnusedLoopbackPort());
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"export", "--from", From, "--to", To, "--port", "90x0"}, "'90x0' is not a valid integer value"},
        {{"export", "--from", From, "--to", To, "--port", "9000 "}, "is not a valid integer value"},
        {{"export", "--from", "31/2/2024", "--to", To, "--port", port}, "Invalid Date"},
        {{"export", "--from", From, "--to", "1/13/2025", "--port", port}, "Invalid Date"},
        {{"export", "--to", To, "--port", port}, "--from is required"},
        {{"export", "--from", From, "--port", port}, "--to is required"},
        {{"export", "--frm", From}, ""},
        {{}, ""},
        {{"decipher", "only-one"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const CliResult r = RunCli(work_, c.args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_THAT(r.err, HasSubstr(c.message));
        EXPECT_EQ(r.out.find("Process started"), std::string::npos);
    }
    ExpectEarlierExportUntouched();
}

TEST_F(CliExport, HelpAndVersion) {
    const CliResult help = RunCli(work_, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.out, HasSubstr("Exit codes:"));
    EXPECT_THAT(help.out, HasSubstr("decipher"));
    const CliResult version = RunCli(work_, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_THAT(version.out, HasSubstr("korvane-cli " KORVANE_VERSION));
}

TEST_F(CliExport, DecipherRefusesWhatIsNotAnExportFile) {
    WriteFile(work_ / "no-crlf.dat", "abc\n");
    WriteFile(work_ / "one-byte.dat", "\n");
    const struct {
        std::string input;
        int exitCode;
    } cases[] = {
        {"no-crlf.dat", 2}, {"one-byte.dat", 2}, {"missing.dat", 1}, {".", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const CliResult r = RunCli(work_, {"decipher", c.input, "plain.txt"});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_FALSE(fs::exists(work_ / "plain.txt"));
    }
    // Only the final CR LF is taken off: an export of an empty answer gives an empty text.
    WriteFile(work_ / "empty.dat", "\r\n");
    EXPECT_EQ(RunCli(work_, {"decipher", "empty.dat", "plain.txt"}).exitCode, 0);
    EXPECT_EQ(ReadFile(work_ / "plain.txt"), "");
}

TEST_F(CliExport, ProbeAnswersWithoutATerminalAsNo) {
    const struct {
        std::vector<std::string> standin;  // empty: nothing listens
        int exitCode;
        std::string output;
    } cases[] = {
        {{"--seed", "1"}, 0, "Tally is Running\n"},
        {{"--fault", "no-company"}, 4, "No Company is open in Tally!!!"},
        {{}, 3, "Could not Connect to Tally."},
    };
    for (const auto& c : cases) {
        std::unique_ptr<StandinProcess> tally;
        int port = UnusedLoopbackPort();
        if (!c.standin.empty()) {
            tally = std::make_unique<StandinProcess>(TALLY_STANDIN_PATH, c.standin);
            port = tally->Port();
        }
        const CliResult r = RunCli(work_, {"probe", "--port", std::to_string(port)});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_THAT(r.out + r.err, HasSubstr(c.output));
    }
}

}  // namespace
}  // namespace korvane::e2e
