#pragma once
#include <optional>
#include <string>

namespace korvane::cli {

// Values given on the command line; what is missing comes from ./korvane.ini or its defaults.
struct ServerOptions {
    std::optional<std::string> address;
    std::optional<std::string> port;
};

struct ExportOptions {
    std::optional<std::string> fromDate;
    std::optional<std::string> toDate;
    std::optional<std::string> outputFile;
    ServerOptions server;
};

// Each returns the process's exit code (exit_codes.h).
int RunExportCommand(const ExportOptions& options);
int RunProbeCommand(const ServerOptions& options);
int RunDecipherCommand(const std::string& exportFile, const std::string& plainFile);

}  // namespace korvane::cli
