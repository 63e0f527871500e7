#pragma once

namespace korvane::cli {

// The exit codes of korvane-cli; the README lists them as one table.
enum ExitCode : int {
    ExitDone = 0,
    ExitCannotWrite = 1,    // the output or Parse.err could not be written; decipher could not read or write
    ExitUsage = 2,          // usage error or invalid input (date, port, a file that is not an export file)
    ExitUnreachable = 3,    // Tally could not be reached
    ExitNoCompany = 4,      // Tally has no company open
    ExitAddonMissing = 5,   // the export add-on is not loaded; nothing written
    ExitParseError = 6,     // the answer is not well-formed XML; Parse.err written
    ExitNoData = 7,         // Tally returned no data; nothing written
};

}  // namespace korvane::cli
