#include "standin_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace korvane::testing {
namespace {

constexpr std::string_view kBanner = "tally-standin listening on http://127.0.0.1:";

std::runtime_error SystemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// Waits up to timeout for the child to end; true when it has (status filled).
bool WaitFor(pid_t pid, std::chrono::milliseconds timeout, int& status) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

StandinProcess::StandinProcess(const std::string& binaryPath,
                               const std::vector<std::string>& extraArguments,
                               std::chrono::milliseconds startTimeout) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw SystemError("pipe");

    std::vector<std::string> args{binaryPath, "--port", "0"};
    args.insert(args.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const int spawned =
        posix_spawn(&pid_, binaryPath.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    output_ = fds[0];
    if (spawned != 0) {
        close(output_);
        errno = spawned;
        throw SystemError("cannot start " + binaryPath);
    }

    // Read the first line, with a time-out.
    std::string line;
    const auto until = std::chrono::steady_clock::now() + startTimeout;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd p{output_, POLLIN, 0};
        int ready = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        char buffer[256];
        ssize_t got = ready > 0 ? read(output_, buffer, sizeof buffer) : 0;
        if (got <= 0) {
            Stop();
            close(output_);
            throw std::runtime_error("the stand-in did not announce its port; it printed: " + line);
        }
        line.append(buffer, static_cast<std::size_t>(got));
    }
    line.erase(line.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, kBanner.size(), kBanner) == 0) {
        try {
            port_ = std::stoi(line.substr(kBanner.size()));
        } catch (const std::exception&) {
            port_ = 0;
        }
    }
    if (port_ <= 0) {
        Stop();
        close(output_);
        throw std::runtime_error("unexpected first line from the stand-in: " + line);
    }
}

StandinProcess::~StandinProcess() {
    Stop();
    if (output_ >= 0) close(output_);
}

int StandinProcess::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        if (!WaitFor(pid_, std::chrono::seconds(3), status_)) {
            kill(pid_, SIGKILL);
            WaitFor(pid_, std::chrono::seconds(10), status_);
        }
        pid_ = -1;
    }
    return status_;
}

std::string StandinProcess::Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

int UnusedLoopbackPort() {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) throw SystemError("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(s);
        throw SystemError("bind");
    }
    close(s);
    return ntohs(a.sin_port);
}

}  // namespace korvane::testing
