#include "app/instance_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace korvane {

InstanceGuard::InstanceGuard(const std::string& lockPath) {
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

InstanceGuard::~InstanceGuard() {
    if (fd_ >= 0) ::close(fd_);
}

std::string InstanceGuard::DefaultLockPath() {
    // A runtime directory that cannot take the lock file would keep the program from ever
    // starting; every copy then falls back to the same temporary directory instead.
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (dir && *dir && ::access(dir, W_OK | X_OK) != 0) dir = nullptr;
    if (dir && *dir) return std::string(dir) + "/KORVANE.lock";
    // The temporary directory is shared by all users: the lock file carries the user's id, so
    // that one user's copy (or the file it leaves behind, which others cannot open) does not
    // keep another user's copy from starting.
    dir = std::getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    return std::string(dir) + "/KORVANE-" + std::to_string(::getuid()) + ".lock";
}

}  // namespace korvane
