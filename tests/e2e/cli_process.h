#pragma once
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace korvane::e2e {

struct CliResult {
    int exitCode = -1;  // -1: killed or did not end in time
    std::string out;    // standard output
    std::string err;    // standard error
    std::vector<std::string> OutLines() const;
};

// Runs korvane-cli as a separate process in the working directory `cwd`, standard input from
// /dev/null, with the extra environment entries given; kills it after `timeout`.
CliResult RunCli(const std::filesystem::path& cwd, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env = {},
                 std::chrono::seconds timeout = std::chrono::seconds(120));

// Starts korvane-cli without waiting; its output goes to files in `outputDir`.
pid_t StartCli(const std::filesystem::path& cwd, const std::vector<std::string>& args,
               const std::filesystem::path& outputDir);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The names in a folder, sorted.
std::vector<std::string> Listing(const std::filesystem::path& dir);

}  // namespace korvane::e2e
