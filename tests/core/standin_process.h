#pragma once
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace korvane::testing {

// Runs the Tally stand-in server as a child process on a free loopback port for the span of a
// test. The child is started with "--port 0" and the extra arguments; the port is read from
// the first line it prints ("tally-standin listening on http://127.0.0.1:<port>"). The
// destructor stops it with SIGTERM, then SIGKILL if it does not end soon.
// POSIX only; throws std::runtime_error when the server does not come up.
class StandinProcess {
public:
    explicit StandinProcess(const std::string& binaryPath,
                            const std::vector<std::string>& extraArguments = {},
                            std::chrono::milliseconds startTimeout = std::chrono::seconds(10));
    ~StandinProcess();
    StandinProcess(const StandinProcess&) = delete;
    StandinProcess& operator=(const StandinProcess&) = delete;

    int Port() const { return port_; }
    std::string Address() const { return "127.0.0.1"; }
    std::string Url() const;  // http://127.0.0.1:<port>
    pid_t Pid() const { return pid_; }

    // Stops the server now (as the destructor does); returns its wait status.
    int Stop();

private:
    pid_t pid_ = -1;
    int output_ = -1;  // read end of the child's standard output, kept open so it never sees EPIPE
    int port_ = 0;
    int status_ = 0;
};

// A loopback port on which nothing listens (bound once, then released).
int UnusedLoopbackPort();

}  // namespace korvane::testing
