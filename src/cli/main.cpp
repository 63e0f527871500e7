// korvane-cli: exports a period of Tally data into an enciphered file, tests whether Tally is
// ready, and deciphers export files, for scripts and schedulers.
#include <clocale>
#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/cli_commands.h"
#include "cli/exit_codes.h"

using namespace korvane::cli;

namespace {

const char* const ExitCodeHelp =
    "Exit codes:\n"
    "  0  done\n"
    "  1  the output file or Parse.err could not be written; decipher could not read or write\n"
    "  2  usage error or invalid input (date, port, a file that is not an export file)\n"
    "  3  Tally could not be reached\n"
    "  4  Tally has no company open\n"
    "  5  the export add-on is not loaded in Tally (nothing written)\n"
    "  6  the answer is not well-formed XML (Parse.err written)\n"
    "  7  Tally returned no data (nothing written)\n";

void AddServerOptions(CLI::App& command, ServerOptions& server) {
    command.add_option("--server", server.address,
                       "Tally server address (default: Tally/ServerAddress of korvane.ini, "
                       "else 127.0.0.1)");
    command.add_option("--port", server.port,
                       "Tally server port (default: Tally/ServerPort of korvane.ini, else 9000)");
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_TIME, "");  // progress times in the user's time format

    CLI::App app("korvane-cli " KORVANE_VERSION
                 ": asks Tally for all masters and vouchers of a period and writes them, cleaned "
                 "and enciphered,\ninto one export file for the head office. Settings not given "
                 "come from korvane.ini in the current directory.",
                 "korvane-cli");
    app.set_version_flag("--version", "korvane-cli " KORVANE_VERSION);
    app.require_subcommand(1);
    app.footer(ExitCodeHelp);

    ExportOptions exportOptions;
    CLI::App* exportCommand = app.add_subcommand(
        "export", "Export the period from Tally into the enciphered output file");
    exportCommand->add_option("--from", exportOptions.fromDate,
                              "first day, day/month/year (default: Configuration/SVFROMDATE)");
    exportCommand->add_option("--to", exportOptions.toDate,
                              "last day, day/month/year (default: Configuration/SVTODATE)");
    exportCommand->add_option("--out", exportOptions.outputFile,
                              "export file (default: Configuration/OutputFileName, else "
                              "$HOME/BranchData.dat)");
    AddServerOptions(*exportCommand, exportOptions.server);
    exportCommand->footer(
        "Progress lines go to standard output, messages to standard error. The output file is "
        "replaced\nonly when the export succeeds. See korvane-cli --help for the exit codes.");

    ServerOptions probeOptions;
    CLI::App* probeCommand = app.add_subcommand(
        "probe", "Test whether Tally is running with a company open");
    AddServerOptions(*probeCommand, probeOptions);
    probeCommand->footer(
        "When Tally is not ready the question \"Want to retry ?\" is asked on a terminal; without "
        "one\nthe answer is No and the exit code is 3 (unreachable) or 4 (no company open).");

    std::string exportFile;
    std::string plainFile;
    CLI::App* decipherCommand = app.add_subcommand(
        "decipher", "Decipher an export file into its plain XML text (without the final CR LF)");
    decipherCommand->add_option("EXPORT_FILE", exportFile, "the enciphered export file")
        ->required();
    decipherCommand->add_option("PLAIN_FILE", plainFile, "where to write the plain text")
        ->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int helpOrVersion = app.exit(e);
        return helpOrVersion == 0 ? ExitDone : ExitUsage;
    }

    if (*exportCommand) return RunExportCommand(exportOptions);
    if (*probeCommand) return RunProbeCommand(probeOptions);
    return RunDecipherCommand(exportFile, plainFile);
}
