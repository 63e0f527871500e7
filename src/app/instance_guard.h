#pragma once
#include <string>

namespace korvane {

// One copy of the wizard per user session: an advisory lock on KORVANE.lock in the runtime
// directory, held for the life of the process. The system releases it with the process, also
// after a crash or a kill, so a stale file never blocks a new start.
class InstanceGuard {
public:
    explicit InstanceGuard(const std::string& lockPath);
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // False when another copy holds the lock or the lock file cannot be opened.
    bool Held() const { return held_; }

    // $XDG_RUNTIME_DIR/KORVANE.lock, else (unset or not writable) KORVANE-<user id>.lock in
    // the temporary directory.
    static std::string DefaultLockPath();

private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace korvane
