#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/export_run.h"

namespace korvane::cli {

// Prints a message on standard error; "\r" in the engine's messages is a line break.
void PrintMessage(std::string_view message);

// Shows an export run in a terminal: progress lines on standard output, messages on standard
// error, and a live count of received bytes on standard error when that is a terminal.
class TerminalObserver : public ExportObserver {
public:
    TerminalObserver();
    ~TerminalObserver() override;

    void ProgressLine(const std::string& line) override;
    void BytesReceived(std::uint64_t bytes) override;
    void AddonMessage(const std::string& message) override;
    void FatalStop(const std::string& message) override;
    void ParseErrorReport(const std::string& message) override;

    bool ParseErrorReported() const { return parseErrorReported_; }

private:
    void ClearByteCount();

    bool liveCount_;
    bool countShown_ = false;
    bool parseErrorReported_ = false;
    std::chrono::steady_clock::time_point lastShown_{};
};

}  // namespace korvane::cli
