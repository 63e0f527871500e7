#include "cli/cli_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "cli/exit_codes.h"
#include "cli/terminal_observer.h"
#include "core/app_control.h"
#include "core/cipher.h"
#include "core/date_check.h"
#include "core/export_run.h"
#include "core/parse_error_report.h"
#include "core/port_text.h"
#include "core/probe.h"
#include "core/settings_file.h"
#include "core/shared_state.h"
#include "core/tally_result.h"
#include "core/text_file.h"

namespace korvane::cli {
namespace {

// The settings file of the current directory, with the wizard's keys and defaults.
SettingsFile Settings() { return SettingsFile(SettingsPathIn(".")); }

std::string DefaultOutputFile() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return "BranchData.dat";
    std::string path(home);
    if (path.back() != '/') path += '/';
    return path + "BranchData.dat";
}

struct Server {
    std::string address;
    std::string portText;
};

// Address and port from the options or the settings file; nullopt after a message when the
// port text is not a whole number.
std::optional<Server> ResolveServer(const ServerOptions& options) {
    const SettingsFile settings = Settings();
    Server server;
    server.address = options.address ? *options.address
                                     : settings.ReadString("Tally", "ServerAddress", "127.0.0.1");
    server.portText =
        options.port ? *options.port : settings.ReadString("Tally", "ServerPort", "9000");
    if (!TryPortTextToInt(server.portText)) {
        PrintMessage("korvane-cli: '" + server.portText + "' is not a valid integer value" +
                     (options.port ? "" : " (Tally/ServerPort in korvane.ini)"));
        return std::nullopt;
    }
    return server;
}

// A date from the option or the settings file; nullopt after a message when it is missing or
// not a valid date.
std::optional<std::string> ResolveDate(const std::optional<std::string>& given,
                                       const char* settingsKey, const char* option) {
    std::string date = given ? *given : Settings().ReadString("Configuration", settingsKey);
    if (date.empty()) {
        PrintMessage(std::string("korvane-cli: ") + option + " is required (korvane.ini holds no " +
                     settingsKey + "); see korvane-cli export --help");
        return std::nullopt;
    }
    if (!IsValidDate(std::string_view(date), CurrentLocalYear())) {
        PrintMessage(std::string("korvane-cli: Invalid Date: ") + option + " '" + date +
                     "' (day/month/year, e.g. 1/4/2024)");
        return std::nullopt;
    }
    return date;
}

int ExitCodeOf(ExportOutcome outcome) {
    switch (outcome) {
        case ExportOutcome::Completed: return ExitDone;
        case ExportOutcome::NoData: return ExitNoData;
        case ExportOutcome::TallyUnreachable: return ExitUnreachable;
        case ExportOutcome::NoCompany: return ExitNoCompany;
        case ExportOutcome::ParseError: return ExitParseError;
        case ExportOutcome::AddonMissing: return ExitAddonMissing;
    }
    return ExitCannotWrite;
}

// Ends the probe's question loop from inside ProbeTally without leaving objects behind.
struct ProbeHalt {
    int exitCode;
};

class ProbeSession : public ProbeQuestions, public ApplicationControl {
public:
    bool AskYesNo(const std::string& question) override {
        lastQuestion_ = question;
        PrintMessage(question);
        if (::isatty(STDIN_FILENO) != 1) {
            // Nobody can answer: a script gets the refusal and the matching exit code.
            PrintMessage("No (standard input is not a terminal)");
            return false;
        }
        std::fputs("[y/N] ", stderr);
        std::fflush(stderr);
        std::string answer;
        if (!std::getline(std::cin, answer)) return false;
        return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" ||
               answer == "YES";
    }
    void Terminate() override {}
    [[noreturn]] void Halt(int /*exitCode*/) override {
        throw ProbeHalt{lastQuestion_ == ProbeNoCompanyQuestion ? ExitNoCompany
                                                                : ExitUnreachable};
    }

private:
    std::string lastQuestion_;
};

}  // namespace

int RunExportCommand(const ExportOptions& options) {
    const std::optional<Server> server = ResolveServer(options.server);
    if (!server) return ExitUsage;
    const std::optional<std::string> from = ResolveDate(options.fromDate, "SVFROMDATE", "--from");
    if (!from) return ExitUsage;
    const std::optional<std::string> to = ResolveDate(options.toDate, "SVTODATE", "--to");
    if (!to) return ExitUsage;

    ExportSettings settings;
    settings.fromDate = *from;
    settings.toDate = *to;
    settings.outputFileName =
        options.outputFile
            ? *options.outputFile
            : Settings().ReadString("Configuration", "OutputFileName", DefaultOutputFile());
    settings.serverAddress = server->address;
    settings.serverPortText = server->portText;

    TerminalObserver observer;
    try {
        return ExitCodeOf(RunExport(settings, observer));
    } catch (const IoError& e) {
        const std::string file =
            observer.ParseErrorReported() ? std::string(ParseErrorFileName) : settings.outputFileName;
        PrintMessage("korvane-cli: cannot write " + file + ": " + e.what() + ".");
        return ExitCannotWrite;
    } catch (const ConversionError& e) {
        PrintMessage(std::string("korvane-cli: ") + e.what() + ".");
        return ExitUsage;
    }
}

int RunProbeCommand(const ServerOptions& options) {
    const std::optional<Server> server = ResolveServer(options);
    if (!server) return ExitUsage;
    ProbeSession session;
    try {
        // Yes to "Want to retry ?" asks Tally again.
        while (ProbeTally(server->portText, server->address, session, session) != TALLY_OK) {
        }
    } catch (const ProbeHalt& halt) {
        return halt.exitCode;
    } catch (const ConversionError& e) {
        PrintMessage(std::string("korvane-cli: ") + e.what() + ".");
        return ExitUsage;
    }
    std::cout << "Tally is Running" << std::endl;
    return ExitDone;
}

int RunDecipherCommand(const std::string& exportFile, const std::string& plainFile) {
    const int fd = ::open(exportFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        PrintMessage("korvane-cli: cannot read " + exportFile + ": " +
                     IoErrorFromErrno(errno).what() + ".");
        return ExitCannotWrite;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    char tail[2] = {0, 0};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 2 ||
        ::pread(fd, tail, 2, info.st_size - 2) != 2 || tail[0] != '\r' || tail[1] != '\n') {
        PrintMessage("korvane-cli: " + exportFile +
                     " is not an export file: an export file ends in CR LF.");
        return ExitUsage;
    }

    try {
        AtomicFileWriter plain(plainFile);
        StreamCipher decipher(ExportKey, false);
        std::uint64_t left = static_cast<std::uint64_t>(info.st_size) - 2;
        std::string in(1 << 20, '\0');
        std::string out(1 << 20, '\0');
        while (left > 0) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, in.size()));
            const ssize_t n = ::read(fd, in.data(), want);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                PrintMessage("korvane-cli: cannot read " + exportFile + ": " +
                             (n < 0 ? IoErrorFromErrno(errno).what() : "Read beyond end of file") +
                             ".");
                return ExitCannotWrite;
            }
            const auto size = static_cast<std::size_t>(n);
            decipher.Process(reinterpret_cast<const std::uint8_t*>(in.data()), size,
                             reinterpret_cast<std::uint8_t*>(out.data()));
            plain.Write(std::string_view(out.data(), size));
            left -= size;
        }
        plain.Commit();
    } catch (const IoError& e) {
        PrintMessage("korvane-cli: cannot write " + plainFile + ": " + e.what() + ".");
        return ExitCannotWrite;
    }
    return ExitDone;
}

}  // namespace korvane::cli
