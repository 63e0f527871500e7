#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace korvane {

// What the user entered, as typed (UTF-8).
struct ExportSettings {
    std::string fromDate;
    std::string toDate;
    std::string outputFileName;
    std::string serverAddress;
    std::string serverPortText;
};

// How a run ended.
enum class ExportOutcome {
    Completed,      // file written
    NoData,         // Tally returned an empty answer; nothing written
    TallyUnreachable,
    NoCompany,
    ParseError,     // the answer did not parse; Parse.err written
    AddonMissing,   // no ENVELOPE in the answer; nothing written
};

// How the engine shows things. The engine itself never shows anything and never ends the
// program: after FatalStop or ParseErrorReport it returns, and the caller ends the program.
class ExportObserver {
public:
    virtual ~ExportObserver() = default;
    // A line of the progress list (UTF-8).
    virtual void ProgressLine(const std::string& line) = 0;
    // Raw answer bytes received so far; called often while the answer arrives and while
    // waiting for it. Lets a window keep painting; must not throw.
    virtual void BytesReceived(std::uint64_t /*bytes*/) {}
    // The message that the export add-on is not loaded; returns once the user closed it.
    virtual void AddonMessage(const std::string& message) = 0;
    // A failure the export cannot survive; the run returns right after it.
    virtual void FatalStop(const std::string& message) = 0;
    // The parse-error message, shown before Parse.err is written.
    virtual void ParseErrorReport(const std::string& message) = 0;
};

// The message that the export add-on is not loaded ("\r" is a line break).
extern const char* const AddonMessageText;
// The fatal stops of the exchange.
extern const char* const NoCompanyMessage;    // "Error:- Company not Open in Tally.\r"
extern const char* const UnreachableMessage;  // "Tally is not Running"
// The last line of a run whose answer held no ENVELOPE: no file is written then.
extern const char* const NothingWrittenLine;

// The output file name as the progress list shows it: codes 0 to 32 trimmed at both ends,
// a to z in capitals, nothing else changed.
std::string FileNameForProgress(std::string_view name);
// "Number of Vouchers exported to file " + name + "... [" + count + " nos]"
std::string VoucherCountLine(std::string_view outputFileName, std::uint64_t vouchers);
// The line that says how many characters the decoding wrote as '?'.
std::string ReplacedCharactersLine(std::uint64_t replaced);

// Local time of day in the locale's format ("%X").
std::string LocalTimeText();

// One export: request, exchange, cleaning, checks, encipherment, atomic replacement of the
// output file. Throws ConversionError for a port text that is not a whole number (after the
// first two lines) and IoError when the output or Parse.err cannot be written.
//
// The answer streams through: the caller's thread receives, decodes and cleans it while one
// worker thread parses it and another enciphers it for a temporary file beside the output,
// which two more threads write and sync as it grows; memory stays flat whatever the answer's
// size. Every observer call happens on the caller's
// thread. A request that cannot be built at all ends as a fatal stop with the outcome
// TallyUnreachable (nothing could be asked of Tally); one that does not parse gives the
// parse-error report and ParseError.
ExportOutcome RunExport(const ExportSettings& settings, ExportObserver& observer,
                        const std::function<std::string()>& timeText = LocalTimeText);

}  // namespace korvane
