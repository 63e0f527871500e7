#include "cli/terminal_observer.h"

#include <unistd.h>

#include <cstdio>

namespace korvane::cli {

void PrintMessage(std::string_view message) {
    std::string text(message);
    for (char& c : text) {
        if (c == '\r') c = '\n';
    }
    if (text.empty() || text.back() != '\n') text += '\n';
    std::fflush(stdout);  // keep the order of progress lines and messages on a shared terminal
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

TerminalObserver::TerminalObserver() : liveCount_(::isatty(STDERR_FILENO) == 1) {}

TerminalObserver::~TerminalObserver() { ClearByteCount(); }

void TerminalObserver::ClearByteCount() {
    if (!countShown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    countShown_ = false;
}

void TerminalObserver::ProgressLine(const std::string& line) {
    ClearByteCount();
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void TerminalObserver::BytesReceived(std::uint64_t bytes) {
    if (!liveCount_) return;
    const auto now = std::chrono::steady_clock::now();
    if (countShown_ && now - lastShown_ < std::chrono::milliseconds(200)) return;
    lastShown_ = now;
    std::fprintf(stderr, "\r\033[KReceived %.1f MB", static_cast<double>(bytes) / 1e6);
    std::fflush(stderr);
    countShown_ = true;
}

void TerminalObserver::AddonMessage(const std::string& message) {
    ClearByteCount();
    PrintMessage(message);
}

void TerminalObserver::FatalStop(const std::string& message) {
    ClearByteCount();
    PrintMessage(message);
}

void TerminalObserver::ParseErrorReport(const std::string& message) {
    ClearByteCount();
    parseErrorReported_ = true;
    PrintMessage(message);
}

}  // namespace korvane::cli
