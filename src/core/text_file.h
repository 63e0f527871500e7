#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace korvane {

// An input/output failure, carrying the system error number of the failed step and the message
// of the table: 2 "File not found", 3 "Invalid filename", 4 "Too many open files",
// 5 "File access denied", 100 "Read beyond end of file", 101 "Disk full",
// 106 "Invalid numeric input", any other "I/O error <n>". POSIX errno values are mapped onto
// these codes where one fits (ENOENT for a missing folder -> 3, EACCES/EPERM/EROFS -> 5,
// EMFILE/ENFILE -> 4, ENOSPC -> 101).
class IoError : public std::runtime_error {
public:
    IoError(int code, std::string message);
    int code() const { return code_; }

private:
    int code_;
};

std::string IoErrorMessage(int code);
// Builds the IoError of a failed step from errno.
IoError IoErrorFromErrno(int err);

// Writes the bytes to a temporary file in the target's folder (owner read/write only) and,
// once everything is flushed and synced, renames it over the target. Any failure before the
// rename removes the temporary file and leaves an earlier target untouched.
//
// The temporary file is named ".<target name>.korvane-tmp-XXXXXX" and locked (flock) while it
// is written. A symbolic link as target is followed: the file it names is replaced. An existing
// target must be a regular file that the user may write; the replacement keeps its mode and
// owner, a new file gets 0666 less the umask. Small writes are gathered into large ones.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string targetPath);  // throws IoError
    ~AtomicFileWriter();                                 // discards unless committed
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void Write(std::string_view bytes);  // throws IoError
    // Hands the gathered small writes to the file, so that the temporary file holds exactly
    // BytesWritten() bytes; throws IoError.
    void Flush();
    // Asks the system to start writing to disk what the file holds so far, without waiting
    // for it, so that the sync of Commit has little left to do. Best effort; never throws.
    void StartWriteback() noexcept;
    // Syncs the data that reached the file so far (not what is still gathered) and returns 0,
    // or the error number of a failed sync. Unlike everything else here it may run on another
    // thread while this one writes: syncing along the way leaves Commit little to wait for.
    int SyncData() const noexcept;
    // From now on, writes of whole blocks (data, size and position all multiples of
    // DirectAlignment, nothing gathered) go straight to the disk past the page cache: for a
    // large stream that nobody reads back soon this saves a copy of every byte and leaves
    // Commit little to sync, at the price of a write that waits for the disk. Only on local
    // disk file systems (ext4, XFS, Btrfs); anything else written, or a file system that
    // refuses it, turns back to ordinary writes for good. Returns whether direct writes are on.
    bool UseDirectWrites() noexcept;
    static constexpr std::size_t DirectAlignment = 4096;
    void Commit();                       // flush, fsync, rename, fsync folder; throws IoError
    void Discard() noexcept;
    std::uint64_t BytesWritten() const { return written_; }
    const std::string& TemporaryPath() const { return tempPath_; }

private:
    [[noreturn]] void Fail(int err);  // discards, then throws the IoError of err
    void WriteAll(std::string_view bytes);
    void FlushBuffer();
    bool Writable(std::string_view bytes) const;  // as a direct write
    void EndDirectWrites() noexcept;

    std::string target_;
    std::string tempPath_;
    int fd_ = -1;
    std::uint64_t written_ = 0;
    std::uint64_t writebackStarted_ = 0;  // bytes from the start already handed to writeback
    bool direct_ = false;
    bool committed_ = false;
    std::string buffer_;
    unsigned finalMode_ = 0644;
    std::int64_t ownerUid_ = -1;  // -1: no earlier file
    std::int64_t ownerGid_ = -1;
};

// Removes the temporary files that writers of this target left behind when they were killed;
// files still locked by a running writer are kept. Returns how many were removed; never throws.
// The writer calls it itself before it starts.
std::size_t RemoveStaleTemporaries(const std::string& targetPath) noexcept;

// Writes the text unchanged followed by CR LF, replacing the file atomically.
void WriteTextFile(std::string_view text, const std::string& fileName);  // throws IoError

}  // namespace korvane
