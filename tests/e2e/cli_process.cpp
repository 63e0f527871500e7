#include "cli_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace korvane::e2e {
namespace {

pid_t Spawn(const std::filesystem::path& cwd, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const std::filesystem::path& outFile,
            const std::filesystem::path& errFile) {
    std::vector<std::string> argStrings{KORVANE_CLI_PATH};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // Child: only async-signal-safe calls from here on, then exec.
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(125);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        ::execv(argv[0], argv.data());
        ::_exit(126);
    }
    return pid;
}

}  // namespace

std::vector<std::string> CliResult::OutLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

CliResult RunCli(const std::filesystem::path& cwd, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, std::chrono::seconds timeout) {
    char pattern[] = "/tmp/korvane-cli-output-XXXXXX";
    const std::filesystem::path outputDir = ::mkdtemp(pattern);
    const pid_t pid = Spawn(cwd, args, env, outputDir / "out", outputDir / "err");

    CliResult result;
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (std::chrono::steady_clock::now() >= until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = ReadFile(outputDir / "out");
    result.err = ReadFile(outputDir / "err");
    std::filesystem::remove_all(outputDir);
    return result;
}

pid_t StartCli(const std::filesystem::path& cwd, const std::vector<std::string>& args,
               const std::filesystem::path& outputDir) {
    return Spawn(cwd, args, {}, outputDir / "cli.out", outputDir / "cli.err");
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> Listing(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace korvane::e2e
