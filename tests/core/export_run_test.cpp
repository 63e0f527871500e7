// The export engine's own stages: the XML check of the answer (well-formedness, counts, refusal
// of hostile constructs) and the texts of the progress list. Whole runs against the stand-in
// server are in tests/e2e.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/cipher.h"
#include "core/export_run.h"
#include "core/port_text.h"
#include "core/xml_answer_check.h"
#include "standin_process.h"

namespace korvane {
namespace {

struct CheckResult {
    bool wellFormed;
    std::uint64_t envelopes;
    std::uint64_t vouchers;
};

CheckResult CheckInPieces(std::string_view text, std::size_t pieceSize) {
    XmlAnswerCheck check;
    bool ok = true;
    for (std::size_t at = 0; ok && at < text.size(); at += pieceSize) {
        ok = check.Feed(text.substr(at, pieceSize));
    }
    if (ok) ok = check.Finish();
    EXPECT_EQ(ok, !check.Failed());
    return {ok, check.EnvelopeCount(), check.VoucherCount()};
}

struct CountCase {
    const char* name;
    std::string text;
    bool wellFormed;
    std::uint64_t envelopes;
    std::uint64_t vouchers;
};

TEST(XmlAnswerCheck, CountsExactNamesAtAnyDepthWhateverThePieceSize) {
    const CountCase cases[] = {
        {"typical answer",
         "<ENVELOPE><BODY><DATA><TALLYMESSAGE><VOUCHER VCHTYPE=\"Sales\"><DATE>20240401</DATE>"
         "</VOUCHER></TALLYMESSAGE><TALLYMESSAGE><VOUCHER/></TALLYMESSAGE></DATA></BODY>"
         "</ENVELOPE>",
         true, 1, 2},
        {"nested and root voucher", "<VOUCHER><VOUCHER><X><VOUCHER/></X></VOUCHER></VOUCHER>",
         true, 0, 3},
        {"letter case and prefixes do not count",
         "<ENVELOPE xmlns:UDF=\"TallyUDF\"><voucher/><Voucher/><UDF:VOUCHER/><VOUCHERS/>"
         "<ENVELOPE/></ENVELOPE>",
         true, 2, 0},
        {"declaration naming another encoding",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ENVELOPE>caf\xE9 \x80 \x9D \xFF</ENVELOPE>",
         true, 1, 0},
        {"declaration naming UTF-16", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><ENVELOPE>\xE9</ENVELOPE>",
         true, 1, 0},
        {"predefined entities and character references",
         "<ENVELOPE a=\"&quot;&lt;\">&amp;&#65;&#x42;<![CDATA[<VOUCHER>]]></ENVELOPE>", true, 1,
         0},
        {"mismatched tags", "<ENVELOPE><VOUCHER></ENVELOPE>", false, 1, 1},
        {"cut short", "<ENVELOPE><VOUCHER/>", false, 1, 1},
        {"empty text", "", false, 0, 0},
        {"only blanks", " \r\n\t", false, 0, 0},
        {"two roots", "<ENVELOPE/><ENVELOPE/>", false, 1, 0},
        {"unknown entity", "<ENVELOPE>&nbsp;</ENVELOPE>", false, 1, 0},
        {"undeclared prefix", "<ENVELOPE><X:VOUCHER/></ENVELOPE>", false, 1, 0},
    };
    for (const CountCase& c : cases) {
        for (std::size_t pieceSize : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(pieceSize));
            const CheckResult r = CheckInPieces(c.text, pieceSize);
            EXPECT_EQ(r.wellFormed, c.wellFormed);
            if (c.wellFormed) {
                EXPECT_EQ(r.envelopes, c.envelopes);
                EXPECT_EQ(r.vouchers, c.vouchers);
            }
        }
    }
}

TEST(XmlAnswerCheck, ReportsTheFirstErrorWithLineAndColumn) {
    XmlAnswerCheck check;
    check.Feed("<ENVELOPE>\n<A>\n  <B></C>\n</A></ENVELOPE>");
    check.Finish();
    ASSERT_TRUE(check.Failed());
    EXPECT_EQ(check.ErrorLine(), 3);
    EXPECT_GT(check.ErrorColumn(), 0);
    EXPECT_NE(check.ErrorReason().find("mismatch"), std::string::npos) << check.ErrorReason();
    EXPECT_EQ(check.ErrorReason().back(), '\n');
}

TEST(XmlAnswerCheck, PositionsCountBytesOfTheEightBitText) {
    // Every byte is one character: a widened byte must not shift the column.
    long columns[2] = {0, 0};
    const char* texts[2] = {"<ENVELOPE>ab</X>", "<ENVELOPE>\xE9\xFF</X>"};
    for (int i = 0; i < 2; ++i) {
        XmlAnswerCheck check;
        check.Feed(texts[i]);
        check.Finish();
        ASSERT_TRUE(check.Failed());
        EXPECT_EQ(check.ErrorLine(), 1);
        columns[i] = check.ErrorColumn();
    }
    EXPECT_EQ(columns[1], columns[0]);
}

TEST(XmlAnswerCheck, StaysFlatOnALargeAnswer) {
    // Far more text than any single limit of the parser, fed in pieces as the engine does.
    XmlAnswerCheck check;
    ASSERT_TRUE(check.Feed("<ENVELOPE>"));
    std::string piece;
    for (int i = 0; i < 4000; ++i) piece += "<VOUCHER><NARRATION>some text &amp; more</NARRATION></VOUCHER>\n";
    const int pieces = 64;  // about 16 MB
    for (int i = 0; i < pieces; ++i) ASSERT_TRUE(check.Feed(piece));
    ASSERT_TRUE(check.Feed("</ENVELOPE>"));
    ASSERT_TRUE(check.Finish()) << check.ErrorReason();
    EXPECT_EQ(check.VoucherCount(), 4000u * pieces);
}

// A loopback listener that tells whether anything tried to connect to it.
class ConnectionTrap {
public:
    ConnectionTrap() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            throw std::runtime_error("cannot listen on loopback");
        }
        port_ = ntohs(addr.sin_port);
    }
    ~ConnectionTrap() { ::close(fd_); }
    int Port() const { return port_; }
    bool SomebodyConnected() const {
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c >= 0) ::close(c);
        return c >= 0;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(XmlAnswerCheck, HostileAnswersAreParseErrorsThatReadAndFetchNothing) {
    ConnectionTrap trap;
    const std::string url = "http://127.0.0.1:" + std::to_string(trap.Port()) + "/x";
    const std::filesystem::path secret =
        std::filesystem::temp_directory_path() / ("korvane_secret_" + std::to_string(::getpid()));
    { std::ofstream(secret) << "<VOUCHER/><VOUCHER/>"; }
    const std::string file = "file://" + secret.string();

    const std::string hostile[] = {
        "<!DOCTYPE ENVELOPE SYSTEM \"" + url + "\"><ENVELOPE/>",
        "<!DOCTYPE ENVELOPE [<!ENTITY e SYSTEM \"" + url + "\">]><ENVELOPE>&e;</ENVELOPE>",
        "<!DOCTYPE ENVELOPE [<!ENTITY e SYSTEM \"" + file + "\">]><ENVELOPE>&e;</ENVELOPE>",
        "<!DOCTYPE ENVELOPE [<!ENTITY % p SYSTEM \"" + url + "\"> %p;]><ENVELOPE/>",
        "<!DOCTYPE ENVELOPE [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]><ENVELOPE>&c;&c;&c;&c;</ENVELOPE>",
        "<!DOCTYPE ENVELOPE><ENVELOPE/>",
        "<ENVELOPE><xi:include xmlns:xi=\"http://www.w3.org/2001/XInclude\" href=\"" + url +
            "\"/></ENVELOPE>",
    };
    for (std::size_t i = 0; i < std::size(hostile); ++i) {
        SCOPED_TRACE(hostile[i]);
        const CheckResult r = CheckInPieces(hostile[i], 5);
        if (i + 1 < std::size(hostile)) {
            EXPECT_FALSE(r.wellFormed);
        } else {
            // XInclude is only an element to a plain parser: well-formed, nothing fetched.
            EXPECT_TRUE(r.wellFormed);
        }
        EXPECT_EQ(r.vouchers, 0u);
    }
    EXPECT_FALSE(trap.SomebodyConnected());
    std::filesystem::remove(secret);
}

TEST(XmlAnswerCheck, RefusedDoctypeIsReportedWhereItStands) {
    XmlAnswerCheck check;
    check.Feed("<?xml version=\"1.0\"?>\n<!DOCTYPE ENVELOPE [<!ENTITY x \"y\">]>\n<ENVELOPE/>");
    check.Finish();
    ASSERT_TRUE(check.Failed());
    EXPECT_EQ(check.ErrorLine(), 2);
    EXPECT_NE(check.ErrorReason().find("not allowed"), std::string::npos) << check.ErrorReason();
}

TEST(ExportRunTexts, FileNameIsTrimmedAndCapitalisedForTheProgressList) {
    const struct {
        std::string typed;
        std::string shown;
    } cases[] = {
        {"  /home/ab/branch data.dat \t", "/HOME/AB/BRANCH DATA.DAT"},
        {std::string("\x01\x1f x.dat\x20\x00", 10), "X.DAT"},
        {"caf\xC3\xA9.dat", "CAF\xC3\xA9.DAT"},  // only a to z change
        {"   ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(FileNameForProgress(c.typed), c.shown);
    EXPECT_EQ(VoucherCountLine(" out.dat", 42),
              "Number of Vouchers exported to file OUT.DAT... [42 nos]");
    EXPECT_EQ(ReplacedCharactersLine(3),
              "Warning: 3 characters could not be represented and were written as '?'.");
}

TEST(ExportRunTexts, AddonMessageUsesCarriageReturnsAsLineBreaks) {
    const std::string message = AddonMessageText;
    EXPECT_EQ(message.find('\n'), std::string::npos);
    EXPECT_NE(message.find("\rTDL=c:\\KorvaneFerrolin\\Korvane9.tcp\r\r"), std::string::npos);
    EXPECT_EQ(message.substr(message.size() - 22), "Gateway of Tally menu.");
    EXPECT_EQ(std::string(NoCompanyMessage), "Error:- Company not Open in Tally.\r");
}

#ifdef TALLY_STANDIN_PATH
// Records what the engine shows, and on which thread.
class RecordingObserver : public ExportObserver {
public:
    void ProgressLine(const std::string& line) override { Seen("line: " + line); }
    void BytesReceived(std::uint64_t bytes) override {
        EXPECT_EQ(std::this_thread::get_id(), caller_);
        EXPECT_GE(bytes, lastBytes_);
        lastBytes_ = bytes;
    }
    void AddonMessage(const std::string&) override { Seen("addon message"); }
    void FatalStop(const std::string& message) override { Seen("fatal: " + message); }
    void ParseErrorReport(const std::string&) override { Seen("parse error report"); }

    std::vector<std::string> events;

private:
    void Seen(std::string event) {
        EXPECT_EQ(std::this_thread::get_id(), caller_) << event;
        events.push_back(std::move(event));
    }
    std::thread::id caller_ = std::this_thread::get_id();
    std::uint64_t lastBytes_ = 0;
};

class ExportRunAgainstStandin : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("korvane_export_run_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);  // Parse.err goes to the working directory
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }
    ExportSettings Settings(const testing::StandinProcess& tally) const {
        return {"1/4/2024", "31/3/2025", (dir_ / "out.dat").string(), tally.Address(),
                std::to_string(tally.Port())};
    }
    std::filesystem::path dir_, previous_;
};

TEST_F(ExportRunAgainstStandin, ObserverHearsEverythingOnTheCallingThreadInOrder) {
    using ::testing::ElementsAre;
    using ::testing::StartsWith;
    const auto time = [] { return std::string("12:00:00"); };
    {
        testing::StandinProcess tally(TALLY_STANDIN_PATH, {"--vouchers", "300", "--rate", "20"});
        RecordingObserver observer;
        EXPECT_EQ(RunExport(Settings(tally), observer, time), ExportOutcome::Completed);
        EXPECT_THAT(observer.events,
                    ElementsAre("line: Process started at 12:00:00", "line: Retrieving data...",
                                StartsWith("line: Number of Vouchers exported to file "),
                                StartsWith("line: Warning: "),
                                "line: Process completed at 12:00:00"));
        EXPECT_TRUE(std::filesystem::exists(dir_ / "out.dat"));
    }
    {
        testing::StandinProcess tally(TALLY_STANDIN_PATH, {"--fault", "malformed"});
        RecordingObserver observer;
        EXPECT_EQ(RunExport(Settings(tally), observer, time), ExportOutcome::ParseError);
        EXPECT_THAT(observer.events, ElementsAre("line: Process started at 12:00:00",
                                                 "line: Retrieving data...", "parse error report"));
        EXPECT_TRUE(std::filesystem::exists(dir_ / "Parse.err"));
    }
    {
        RecordingObserver observer;
        ExportSettings settings{"1/4/2024", "31/3/2025", (dir_ / "out.dat").string(), "127.0.0.1",
                                "12x"};
        EXPECT_THROW(RunExport(settings, observer, time), ConversionError);
        EXPECT_THAT(observer.events,
                    ElementsAre("line: Process started at 12:00:00", "line: Retrieving data..."));
    }
}

std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Answers of several megabytes cross every buffer of the engine (pieces, batches, the writer's
// own buffer, started writeback) at odd places: the export file and Parse.err must still hold
// every byte in order.
TEST_F(ExportRunAgainstStandin, LargeAnswersComeBackWholeInTheExportAndInParseErr) {
    std::string body = "<ENVELOPE>";
    for (unsigned i = 0; body.size() < 9 * 1024 * 1024 + 12345; ++i) {
        body += "<VOUCHER>Caf\xE9 n\xBA " + std::to_string(i) + "</VOUCHER>\r\n";
    }
    const std::string wellFormed = body + "</ENVELOPE>";
    const std::string malformed = body + "</ENVELOP>";
    const auto replay = [&](const std::string& text) {
        const auto file = dir_ / "answer.replay";
        std::ofstream(file, std::ios::binary) << text;
        return std::vector<std::string>{"--replay", file.string(), "--replay-charset",
                                        "windows-1252"};
    };
    {
        testing::StandinProcess tally(TALLY_STANDIN_PATH, replay(wellFormed));
        RecordingObserver observer;
        ASSERT_EQ(RunExport(Settings(tally), observer), ExportOutcome::Completed);
        const std::string enciphered = ReadWholeFile(dir_ / "out.dat");
        ASSERT_EQ(enciphered.size(), wellFormed.size() + 2);
        std::string plain;
        StreamCipher(ExportKey, false)
            .Process(std::string_view(enciphered).substr(0, wellFormed.size()), plain);
        EXPECT_TRUE(plain == wellFormed);  // not EXPECT_EQ: no megabytes in the failure message
        EXPECT_EQ(enciphered.substr(wellFormed.size()), "\r\n");
    }
    {
        testing::StandinProcess tally(TALLY_STANDIN_PATH, replay(malformed));
        RecordingObserver observer;
        ASSERT_EQ(RunExport(Settings(tally), observer), ExportOutcome::ParseError);
        EXPECT_TRUE(ReadWholeFile(dir_ / "Parse.err") == malformed + "\r\n");
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        EXPECT_EQ(entry.path().filename().string().find(".korvane-tmp-"), std::string::npos)
            << entry.path();
    }
}
#endif

}  // namespace
}  // namespace korvane
