#include "core/text_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace korvane {

IoError::IoError(int code, std::string message)
    : std::runtime_error(std::move(message)), code_(code) {}

std::string IoErrorMessage(int code) {
    switch (code) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default: return "I/O error " + std::to_string(code);
    }
}

IoError IoErrorFromErrno(int err) {
    int code = err;
    switch (err) {
    // The file is always created, so a missing entry is a folder of the path.
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL: code = 3; break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: code = 5; break;
    case EMFILE:
    case ENFILE: code = 4; break;
    case ENOSPC:
    case EDQUOT: code = 101; break;
    default:
        // An unmapped error number that is also a code of the table (EIO is 5) would read as
        // that code's meaning; such numbers are moved out of the way.
        if (err == 3 || err == 4 || err == 5 || err == 100 || err == 101 || err == 106)
            code = 1000 + err;
        break;
    }
    return IoError(code, IoErrorMessage(code));
}

namespace {

constexpr std::string_view kTempMarker = ".korvane-tmp-";
constexpr std::size_t kTempRandomLength = 6;  // the "XXXXXX" of mkostemp
constexpr std::size_t kNameMax = 255;
constexpr std::size_t kBufferSize = 256 * 1024;
constexpr int kMaxLinkHops = 40;

struct PathParts {
    std::string dir;
    std::string base;
};

PathParts SplitPath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string JoinPath(const std::string& dir, std::string_view name) {
    std::string joined = dir;
    if (joined.empty() || joined.back() != '/') joined.push_back('/');
    joined.append(name);
    return joined;
}

// ".<target name>.korvane-tmp-", with the target name cut so that the temporary name, random
// part included, stays within the longest name a folder entry may have.
std::string TemporaryPrefix(std::string_view base) {
    const std::size_t room = kNameMax - 1 - kTempMarker.size() - kTempRandomLength;
    std::string prefix = ".";
    prefix.append(base.substr(0, room));
    prefix.append(kTempMarker);
    return prefix;
}

// Follows symbolic links the way an in-place write would: the file written is the one the
// link names, created when the link dangles. Returns the path of that file.
std::string ResolveLinks(std::string path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
        const ssize_t n = readlink(path.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<std::size_t>(n) >= link.size()) return path;
        link.resize(static_cast<std::size_t>(n));
        path = (!link.empty() && link.front() == '/') ? link : JoinPath(SplitPath(path).dir, link);
    }
    throw IoErrorFromErrno(ELOOP);
}

// The mode a newly created file gets: read/write for all, less the process's umask. Read
// from /proc because asking umask() for it would change it for a moment for every thread.
unsigned NewFileMode() {
    unsigned mask = 022;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> status(std::fopen("/proc/self/status", "re"),
                                                           &std::fclose);
    if (status) {
        char line[256];
        while (std::fgets(line, sizeof line, status.get()) != nullptr) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = value;
                break;
            }
        }
    }
    return 0666u & ~mask;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int CloseKeepingErrno(int fd) {
    const int saved = errno;
    const int rc = close(fd);
    errno = saved;
    return rc;
}

}  // namespace

std::size_t RemoveStaleTemporaries(const std::string& targetPath) noexcept {
    try {
        const PathParts parts = SplitPath(ResolveLinks(targetPath));
        if (parts.base.empty()) return 0;
        const std::string prefix = TemporaryPrefix(parts.base);

        std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(parts.dir.c_str()), &closedir);
        if (!dir) return 0;
        const int dirFd = dirfd(dir.get());
        std::vector<std::string> candidates;
        while (const dirent* entry = readdir(dir.get())) {
            const std::string_view name = entry->d_name;
            if (name.size() == prefix.size() + kTempRandomLength && name.starts_with(prefix))
                candidates.emplace_back(name);
        }

        std::size_t removed = 0;
        for (const auto& name : candidates) {
            const int fd =
                openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) continue;
            struct stat opened {};
            struct stat named {};
            // A writer holds its lock on the temporary file for as long as it writes, so a
            // lock that is free means the writer is gone.
            if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                SameFile(opened, named) && unlinkat(dirFd, name.c_str(), 0) == 0) {
                ++removed;
            }
            close(fd);
        }
        return removed;
    } catch (...) {
        return 0;
    }
}

AtomicFileWriter::AtomicFileWriter(std::string targetPath) : target_(std::move(targetPath)) {
    if (target_.empty()) throw IoError(3, IoErrorMessage(3));
    target_ = ResolveLinks(target_);

    struct stat st {};
    if (lstat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw IoErrorFromErrno(EISDIR);
        // Renaming over a device or a pipe would replace the node itself.
        if (!S_ISREG(st.st_mode)) throw IoErrorFromErrno(EACCES);
        // The rename needs only the folder to be writable; a file that the user may not
        // write is refused all the same, as an in-place write would be.
        if (faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0)
            throw IoErrorFromErrno(errno);
        finalMode_ = st.st_mode & 07777;
        ownerUid_ = st.st_uid;
        ownerGid_ = st.st_gid;
    } else if (errno == ENOENT) {
        finalMode_ = NewFileMode();
    } else {
        throw IoErrorFromErrno(errno);
    }

    const PathParts parts = SplitPath(target_);
    if (parts.base.empty()) throw IoError(3, IoErrorMessage(3));

    RemoveStaleTemporaries(target_);

    const std::string pattern = JoinPath(parts.dir, TemporaryPrefix(parts.base) + "XXXXXX");
    for (int attempt = 0;; ++attempt) {
        std::string path = pattern;
        // mkostemp creates the file with O_EXCL and mode 0600.
        const int fd = mkostemp(path.data(), O_CLOEXEC);
        if (fd < 0) throw IoErrorFromErrno(errno);
        // A cleaner of another process may have taken the new file for a stale one between
        // its creation and the lock; then it is gone from the folder and we start again.
        while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        struct stat opened {};
        struct stat named {};
        if (fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 &&
            SameFile(opened, named)) {
            fd_ = fd;
            tempPath_ = std::move(path);
            break;
        }
        close(fd);
        if (attempt == 10) throw IoErrorFromErrno(EEXIST);
    }
    buffer_.reserve(kBufferSize);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (!committed_) Discard();
}

void AtomicFileWriter::Fail(int err) {
    Discard();
    throw IoErrorFromErrno(err);
}

int AtomicFileWriter::SyncData() const noexcept {
    if (fd_ < 0) return EBADF;
    // EINVAL: the file system cannot sync this file; there is nothing more to do for it.
    if (fdatasync(fd_) != 0 && errno != EINVAL) return errno;
    return 0;
}

bool AtomicFileWriter::UseDirectWrites() noexcept {
    if (fd_ < 0) return false;
    if (!direct_) {
        // Only on the local disk file systems known to do it well: on a network share every
        // direct write would be a round trip of its own.
        struct statfs fs {};
        if (fstatfs(fd_, &fs) != 0) return false;
        switch (static_cast<unsigned long>(fs.f_type)) {
        case 0xEF53UL:      // ext2, ext3, ext4
        case 0x58465342UL:  // XFS
        case 0x9123683EUL:  // Btrfs
            break;
        default: return false;
        }
        const int flags = fcntl(fd_, F_GETFL);
        direct_ = flags >= 0 && fcntl(fd_, F_SETFL, flags | O_DIRECT) == 0;
    }
    return direct_;
}

void AtomicFileWriter::EndDirectWrites() noexcept {
    if (!direct_) return;
    direct_ = false;
    const int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0) fcntl(fd_, F_SETFL, flags & ~O_DIRECT);
}

bool AtomicFileWriter::Writable(std::string_view bytes) const {
    return buffer_.empty() && written_ % DirectAlignment == 0 &&
           reinterpret_cast<std::uintptr_t>(bytes.data()) % DirectAlignment == 0 &&
           bytes.size() % DirectAlignment == 0;
}

void AtomicFileWriter::WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
        // Bounded so that one call never exceeds what write() transfers at once.
        const std::size_t chunk = std::min<std::size_t>(bytes.size(), std::size_t{1} << 30);
        const ssize_t n = write(fd_, bytes.data(), chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            // The file system wants other alignment than ours: ordinary writes from here on.
            if (errno == EINVAL && direct_) {
                EndDirectWrites();
                continue;
            }
            Fail(errno);
        }
        if (n == 0) Fail(EIO);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void AtomicFileWriter::FlushBuffer() {
    if (buffer_.empty()) return;
    WriteAll(buffer_);
    buffer_.clear();
}

void AtomicFileWriter::Write(std::string_view bytes) {
    if (fd_ < 0) throw std::logic_error("AtomicFileWriter: write after commit or discard");
    if (direct_ && !bytes.empty()) {
        if (Writable(bytes)) {
            WriteAll(bytes);
            written_ += bytes.size();
            return;
        }
        EndDirectWrites();
    }
    if (buffer_.size() + bytes.size() <= kBufferSize) {
        buffer_.append(bytes);
    } else {
        FlushBuffer();
        // Large pieces go straight to the file; small ones gather into one system call.
        if (bytes.size() >= kBufferSize)
            WriteAll(bytes);
        else
            buffer_.append(bytes);
    }
    written_ += bytes.size();
}

void AtomicFileWriter::Flush() {
    if (fd_ < 0) throw std::logic_error("AtomicFileWriter: flush after commit or discard");
    FlushBuffer();
}

void AtomicFileWriter::StartWriteback() noexcept {
    if (fd_ < 0) return;
    const std::uint64_t inFile = written_ - buffer_.size();
    if (inFile <= writebackStarted_) return;
    // A file system without this call simply leaves everything to the final sync.
    if (sync_file_range(fd_, static_cast<off64_t>(writebackStarted_),
                        static_cast<off64_t>(inFile - writebackStarted_),
                        SYNC_FILE_RANGE_WRITE) == 0) {
        writebackStarted_ = inFile;
    }
}

void AtomicFileWriter::Commit() {
    if (fd_ < 0) throw std::logic_error("AtomicFileWriter: commit after commit or discard");
    FlushBuffer();
    // EINVAL: the file system cannot sync this file; there is nothing more to do for it.
    if (fsync(fd_) != 0 && errno != EINVAL) Fail(errno);

    // The replacement keeps the owner and mode of the file it replaces; a new file gets the
    // mode of any newly created file. Both are best effort: some file systems refuse them.
    if (ownerUid_ >= 0 && (static_cast<std::int64_t>(geteuid()) != ownerUid_ ||
                           static_cast<std::int64_t>(getegid()) != ownerGid_)) {
        [[maybe_unused]] const int rc = fchown(fd_, static_cast<uid_t>(ownerUid_),
                                               static_cast<gid_t>(ownerGid_));
    }
    [[maybe_unused]] const int rcMode = fchmod(fd_, static_cast<mode_t>(finalMode_));

    const int fd = std::exchange(fd_, -1);
    if (close(fd) != 0 && errno != EINTR) Fail(errno);
    if (rename(tempPath_.c_str(), target_.c_str()) != 0) Fail(errno);
    committed_ = true;
    buffer_ = std::string();

    // Makes the rename itself durable; the new content is complete under the target's name
    // already, so a folder that cannot be synced is no failure of the write.
    const int dirFd = open(SplitPath(target_).dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
}

void AtomicFileWriter::Discard() noexcept {
    if (fd_ >= 0) CloseKeepingErrno(std::exchange(fd_, -1));
    if (!committed_ && !tempPath_.empty()) {
        const int saved = errno;
        unlink(tempPath_.c_str());
        errno = saved;
    }
    if (!committed_) tempPath_.clear();
    buffer_ = std::string();
}

void WriteTextFile(std::string_view text, const std::string& fileName) {
    AtomicFileWriter writer(fileName);
    writer.Write(text);
    writer.Write("\r\n");
    writer.Commit();
}

}  // namespace korvane
