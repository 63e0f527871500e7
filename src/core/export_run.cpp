#include "core/export_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <libxml/parser.h>

#include "core/cipher.h"
#include "core/cleaner.h"
#include "core/export_request.h"
#include "core/parse_error_report.h"
#include "core/port_text.h"
#include "core/run_errors.h"
#include "core/tally_client.h"
#include "core/text_file.h"
#include "core/xml_answer_check.h"

namespace korvane {

const char* const AddonMessageText =
    "It appears that the KORVANE TCP is not loaded. Please follow the steps given underneath\r"
    "to load the TCP file:-\r\rSTEP 1\rMake changes in your Tally.ini file as shown below:-\r"
    "User TDL=Yes\rTDL=c:\\KorvaneFerrolin\\Korvane9.tcp\r\rSTEP 2\r"
    "ReStart Tally Software and retry exporting data.\r\rRemarks:-\r"
    "If the TCP file is loaded successfully, then 'Korvane TCP' appears in the\r"
    "Gateway of Tally menu.";

const char* const NoCompanyMessage = "Error:- Company not Open in Tally.\r";
const char* const UnreachableMessage = "Tally is not Running";
const char* const NothingWrittenLine =
    "Nothing was written: the export add-on is not loaded in Tally.";

std::string LocalTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[128];
    const std::size_t n = std::strftime(text, sizeof text, "%X", &local);
    return std::string(text, n);
}

std::string FileNameForProgress(std::string_view name) {
    while (!name.empty() && static_cast<unsigned char>(name.front()) <= 32) name.remove_prefix(1);
    while (!name.empty() && static_cast<unsigned char>(name.back()) <= 32) name.remove_suffix(1);
    std::string shown(name);
    for (char& c : shown) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return shown;
}

std::string VoucherCountLine(std::string_view outputFileName, std::uint64_t vouchers) {
    return "Number of Vouchers exported to file " + FileNameForProgress(outputFileName) + "... [" +
           std::to_string(vouchers) + " nos]";
}

std::string ReplacedCharactersLine(std::uint64_t replaced) {
    return "Warning: " + std::to_string(replaced) +
           " characters could not be represented and were written as '?'.";
}

namespace {

// Cleaned text is handed to the parser in pieces of at most this size: large enough that the
// two threads rarely meet at the lock, small enough that memory stays a few megabytes.
constexpr std::size_t PieceSize = 1024 * 1024;
constexpr std::size_t PiecesInFlight = 4;
// The enciphered text goes to disk in batches of this size, whole blocks for direct writes.
constexpr std::size_t SpoolBatch = 1024 * 1024;
static_assert(SpoolBatch % AtomicFileWriter::DirectAlignment == 0);
// Writeback to disk is started whenever this much more was written, and the file synced
// whenever this much more was written.
constexpr std::uint64_t WritebackStep = 8 * 1024 * 1024;
constexpr std::uint64_t SyncStep = 32 * 1024 * 1024;

// One buffer of text on its way between threads. Its storage is allocated once, at full
// capacity, and reused: the receiver cleans straight into it, the writer widens into it.
struct Piece {
    std::string bytes;
    std::size_t offset = 0;  // where the text starts in the storage
    std::size_t size = 0;    // bytes in use
    // Widening at most doubles a piece of PieceSize bytes.
    static constexpr std::size_t Capacity = 2 * PieceSize;

    // A buffer of the pool, not an empty stand-in for one.
    bool Usable() const { return bytes.capacity() >= Capacity; }
    std::string_view Text() const { return std::string_view(bytes.data() + offset, size); }
};

// Hands text from one thread to the next through a fixed set of buffers, allocated once: the
// sender waits for a free one when the taker falls behind, so memory stays flat and nothing is
// allocated per piece.
class TextHandover {
public:
    TextHandover() {
        for (std::size_t i = 0; i < PiecesInFlight; ++i) {
            Piece piece;
            piece.bytes.reserve(Piece::Capacity);  // memory is touched only as it is filled
            free_.push_back(std::move(piece));
        }
    }

    // A free buffer to fill; an empty one (no bytes) once the text is no longer wanted.
    Piece Acquire() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !free_.empty() || abandoned_; });
        if (abandoned_) return Piece{};
        Piece piece = std::move(free_.back());
        free_.pop_back();
        return piece;
    }

    void Put(Piece piece) {
        std::lock_guard lock(mutex_);
        if (abandoned_) return;
        full_.push_back(std::move(piece));
        if (full_.size() == 1) changed_.notify_all();  // the parser may be waiting for text
    }

    // Gives back the buffer the parser is done with and waits for the next piece; false once
    // the receiver has closed and everything was taken.
    bool Take(Piece& piece) {
        std::unique_lock lock(mutex_);
        if (piece.Usable()) {
            free_.push_back(std::move(piece));
            if (free_.size() == 1) changed_.notify_all();  // the receiver may be waiting
        }
        changed_.wait(lock, [&] { return !full_.empty() || closed_ || abandoned_; });
        if (full_.empty() || abandoned_) return false;
        piece = std::move(full_.front());
        full_.pop_front();
        return true;
    }

    // The receiver has no more text.
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

    // Either side gives up: the parser needs no more text, or the answer is not wanted.
    void Abandon() {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
        changed_.notify_all();
    }

    bool Abandoned() {
        std::lock_guard lock(mutex_);
        return abandoned_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> full_;
    std::vector<Piece> free_;
    bool closed_ = false;
    bool abandoned_ = false;
};

// A thread that takes pieces of text from its hand-over one after the other: one parses, one
// enciphers and writes, so that the receiving thread only decodes and cleans. Nothing here
// reaches the observer: everything the user sees happens on the caller's thread.
class PieceWorker {
public:
    // `consume` returns false when it wants no more text; `finish` runs after the last piece.
    PieceWorker(std::function<bool(std::string_view)> consume, std::function<void()> finish)
        : consume_(std::move(consume)), finish_(std::move(finish)), thread_([this] { Run(); }) {}
    ~PieceWorker() { Stop(); }
    PieceWorker(const PieceWorker&) = delete;
    PieceWorker& operator=(const PieceWorker&) = delete;

    TextHandover& Handover() { return handover_; }

    // Waits until the worker has had the whole text (or gave up on it).
    void Join() {
        handover_.Close();
        if (thread_.joinable()) thread_.join();
        if (error_) std::rethrow_exception(error_);
    }

    // Drops whatever is still queued and waits for the thread.
    void Stop() noexcept {
        handover_.Abandon();
        if (thread_.joinable()) thread_.join();
    }

private:
    void Run() noexcept {
        try {
            Piece piece;
            bool wanted = true;
            while (handover_.Take(piece)) {
                if (!consume_(piece.Text())) {
                    wanted = false;
                    // The receiver need not wait for this worker any more.
                    handover_.Abandon();
                    break;
                }
            }
            if (wanted && !handover_.Abandoned()) finish_();
        } catch (...) {
            error_ = std::current_exception();
            handover_.Abandon();
        }
    }

    std::function<bool(std::string_view)> consume_;
    std::function<void()> finish_;
    TextHandover handover_;
    std::exception_ptr error_;
    std::thread thread_;  // last: starts once everything it uses exists
};

// Syncs a file on a thread of its own whenever asked, while the file goes on growing: the
// disk writes the data out along the way instead of all at the final sync, and the thread that
// writes never waits for it.
class BackgroundSync {
public:
    explicit BackgroundSync(const AtomicFileWriter& file) : file_(file), thread_([this] { Run(); }) {}
    ~BackgroundSync() { Stop(); }
    BackgroundSync(const BackgroundSync&) = delete;
    BackgroundSync& operator=(const BackgroundSync&) = delete;

    // Another sync once the running one (if any) is done.
    void Request() {
        std::lock_guard lock(mutex_);
        requested_ = true;
        changed_.notify_one();
    }

    // Waits for the sync under way, if any; the error number of the first failed sync, or 0.
    int Stop() noexcept {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            changed_.notify_one();
        }
        if (thread_.joinable()) thread_.join();
        return error_;
    }

private:
    void Run() noexcept {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return requested_ || stopping_; });
            if (stopping_) return;
            requested_ = false;
            lock.unlock();
            const int error = file_.SyncData();
            lock.lock();
            if (error != 0) {
                error_ = error;
                return;
            }
        }
    }

    const AtomicFileWriter& file_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    bool stopping_ = false;
    int error_ = 0;
    std::thread thread_;  // last: starts once everything it uses exists
};

// The enciphered answer on its way to disk: a temporary file beside the output file, renamed
// over it only at the very end. When the output's folder cannot take it, the enciphered text
// goes to a temporary file beside Parse.err instead, so that a parse-error report can still be
// written in full; the output's error is raised when the export would write the file.
//
// The writing thread enciphers into batches that a thread of its own writes to disk, past the
// page cache where the file system allows it: the stream costs no copy into the cache, and the
// disk works all along instead of at the final sync.
class EncipheredSpool {
public:
    explicit EncipheredSpool(const std::string& outputFileName)
        : disk_([this](std::string_view enciphered) { return ToDisk(enciphered); }, [] {}) {
        try {
            writer_ = std::make_unique<AtomicFileWriter>(outputFileName);
        } catch (const IoError& e) {
            outputError_ = e;
            try {
                writer_ = std::make_unique<AtomicFileWriter>(ParseErrorFileName);
            } catch (const IoError&) {
                writer_.reset();  // then neither file can be written; the errors come at the end
            }
        }
        if (writer_) {
            writer_->UseDirectWrites();
            syncer_.emplace(*writer_);
        }
    }

    // On the writing thread: enciphers the text into batches for the disk thread.
    void Write(std::string_view plain) {
        while (!plain.empty()) {
            if (!batch_.Usable()) {
                batch_ = disk_.Handover().Acquire();
                if (!batch_.Usable()) return;  // the disk thread gave up on a write error
                batch_.bytes.resize(Piece::Capacity);  // zero-fills once per buffer
                // Batches start on a block boundary, so that they can be written directly.
                const auto address = reinterpret_cast<std::uintptr_t>(batch_.bytes.data());
                batch_.offset = (AtomicFileWriter::DirectAlignment -
                                 address % AtomicFileWriter::DirectAlignment) %
                                AtomicFileWriter::DirectAlignment;
                batch_.size = 0;
            }
            const std::size_t n = std::min(plain.size(), SpoolBatch - batch_.size);
            cipher_.Process(
                reinterpret_cast<const std::uint8_t*>(plain.data()), n,
                reinterpret_cast<std::uint8_t*>(batch_.bytes.data() + batch_.offset + batch_.size));
            batch_.size += n;
            plain.remove_prefix(n);
            if (batch_.size == SpoolBatch) PassBatch();
        }
    }

    // Makes the output file: CR LF after the enciphered text, then the atomic replacement.
    void CommitExport() {
        if (outputError_) throw *outputError_;
        FinishDisk();
        if (writeError_) throw *writeError_;
        writer_->Write("\r\n");
        writer_->Commit();
        writer_.reset();
    }

    // Writes Parse.err: the text deciphered back from the temporary file, then CR LF.
    void WriteParseErr() {
        FinishDisk();
        if (writeError_) throw *writeError_;
        if (!writer_) throw *outputError_;  // no folder could take the temporary file
        writer_->Flush();  // the temporary file holds the whole enciphered text then
        AtomicFileWriter parseErr(ParseErrorFileName);
        StreamCipher decipher(ExportKey, false);

        const int fd = ::open(writer_->TemporaryPath().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw IoErrorFromErrno(errno);
        struct FdCloser {
            int fd;
            ~FdCloser() { ::close(fd); }
        } closer{fd};
        std::string cipherText(SpoolBatch, '\0');
        std::string plain(SpoolBatch, '\0');
        std::uint64_t readBack = 0;
        for (;;) {
            const ssize_t n = ::read(fd, cipherText.data(), cipherText.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                throw IoErrorFromErrno(errno);
            }
            if (n == 0) break;
            const auto size = static_cast<std::size_t>(n);
            decipher.Process(reinterpret_cast<const std::uint8_t*>(cipherText.data()), size,
                             reinterpret_cast<std::uint8_t*>(plain.data()));
            parseErr.Write(std::string_view(plain.data(), size));
            readBack += size;
        }
        // Anything else than what was written would be a gap or a stranger's bytes.
        if (readBack != writer_->BytesWritten()) throw IoError(100, IoErrorMessage(100));
        parseErr.Write("\r\n");
        parseErr.Commit();
        writer_.reset();
    }

    void Discard() noexcept {
        disk_.Stop();
        syncer_.reset();
        writer_.reset();
    }

private:
    void PassBatch() {
        disk_.Handover().Put(std::move(batch_));
        batch_ = Piece{};
    }

    // The last, partial batch goes out and the disk thread ends; the writing thread has ended.
    void FinishDisk() {
        if (batch_.Usable() && batch_.size > 0) PassBatch();
        disk_.Join();
        StopSyncing();
    }

    // Waits for the background sync; a failed one is a write error (the final sync might not
    // hear of it again).
    void StopSyncing() noexcept {
        if (!syncer_) return;
        const int error = syncer_->Stop();
        syncer_.reset();
        if (error != 0 && !writeError_) {
            writeError_ = IoErrorFromErrno(error);
            writer_.reset();  // discards the temporary file
        }
    }

    // On the disk thread. Writes a batch; every few batches starts writing what went through
    // the page cache to disk, and now and then has the file synced in the background, so that
    // the final sync has little left to do. False after a write error: the error is kept for
    // the end, the temporary file is gone.
    bool ToDisk(std::string_view enciphered) {
        if (!writer_) return false;
        try {
            writer_->Write(enciphered);
            const std::uint64_t written = writer_->BytesWritten();
            if (written - writebackFrom_ >= WritebackStep) {
                writer_->Flush();
                writer_->StartWriteback();
                writebackFrom_ = written;
            }
            if (written - syncedTo_ >= SyncStep) {
                syncer_->Request();
                syncedTo_ = written;
            }
            return true;
        } catch (const IoError& e) {
            writeError_ = e;
            syncer_.reset();  // it syncs the file that goes now
            writer_.reset();  // discards the temporary file
            return false;
        }
    }

    std::unique_ptr<AtomicFileWriter> writer_;  // used by the disk thread while it runs
    std::optional<IoError> outputError_;
    std::optional<IoError> writeError_;  // set by the disk thread
    StreamCipher cipher_{ExportKey, true};
    Piece batch_;                      // being filled by the writing thread
    std::uint64_t writebackFrom_ = 0;  // written bytes when writeback was last started
    std::uint64_t syncedTo_ = 0;       // written bytes when a sync was last asked for
    std::optional<BackgroundSync> syncer_;  // of writer_, while the disk thread writes
    PieceWorker disk_;                 // last: stopped before everything it uses goes
};

// Widens a piece of cleaned text for the parser and hands it over; nothing when the parser has
// its verdict already.
void PassToParser(TextHandover& toParser, std::string_view text) {
    while (!text.empty()) {
        const std::string_view part = text.substr(0, PieceSize);
        text.remove_prefix(part.size());
        Piece widened = toParser.Acquire();
        if (!widened.Usable()) return;
        widened.bytes.resize(Piece::Capacity);  // zero-fills once per buffer, then a no-op
        widened.size = XmlAnswerCheck::WidenLatin1(part, widened.bytes.data());
        toParser.Put(std::move(widened));
    }
}

// Receives the decoded answer on the caller's thread (inside the HTTP transfer) and cleans it
// straight into the buffers that the writing thread takes; the writer passes the text on to
// the parsing thread.
class AnswerSink : public TallyAnswerConsumer {
public:
    AnswerSink(ExportObserver& observer, TextHandover& toWriter)
        : observer_(observer), toWriter_(toWriter) {}

    void OnText(std::string_view text) override {
        decodedBytes_ += text.size();
        while (!text.empty()) {
            if (!piece_.Usable()) {
                piece_ = toWriter_.Acquire();
                if (!piece_.Usable()) return;  // the writer gave up: the text is not wanted
                piece_.bytes.clear();  // keeps the storage
            }
            // At most what fills the piece, so that it never outgrows its storage (cleaning
            // adds at most the few bytes it held back).
            const std::string_view part = text.substr(0, PieceSize - piece_.bytes.size());
            text.remove_prefix(part.size());
            cleaner_.Feed(part, piece_.bytes);
            if (piece_.bytes.size() >= PieceSize) Pass();
        }
    }

    void OnProgress(std::uint64_t bytesReceived) override {
        try {
            observer_.BytesReceived(bytesReceived);
        } catch (...) {
            // A display that fails must not break the transfer.
        }
    }

    // The answer is complete: the cleaner's held-back bytes go out too.
    void Finish() {
        if (!piece_.Usable()) {
            piece_ = toWriter_.Acquire();
            if (!piece_.Usable()) return;
            piece_.bytes.clear();
        }
        cleaner_.Finish(piece_.bytes);
        Pass();
    }

    std::uint64_t DecodedBytes() const { return decodedBytes_; }

private:
    void Pass() {
        piece_.size = piece_.bytes.size();
        toWriter_.Put(std::move(piece_));
        piece_ = Piece{};
    }

    ExportObserver& observer_;
    TextHandover& toWriter_;
    StreamingCleaner cleaner_;
    Piece piece_;  // being filled; none while the writer has them all
    std::uint64_t decodedBytes_ = 0;
};

void ReportParseError(ExportObserver& observer, std::string_view reason, long line, long column) {
    // The parser ends its messages with a line break; here "\r" is the line break, so that
    // "Line : " starts a line of its own as it does after the platform parser's reasons.
    std::string shown(reason);
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    shown += '\r';
    observer.ParseErrorReport(ParseErrorMessage(shown, line, column));
}

}  // namespace

ExportOutcome RunExport(const ExportSettings& settings, ExportObserver& observer,
                        const std::function<std::string()>& timeText) {
    xmlInitParser();  // once, on this thread, before a second thread uses the parser

    ExportRequest request;
    try {
        request = BuildExportRequest(settings.fromDate, settings.toDate);
    } catch (const XmlParseFailure& failure) {
        ReportParseError(observer, failure.reason, failure.line, failure.linePos);
        WriteTextFile(failure.text, ParseErrorFileName);
        return ExportOutcome::ParseError;
    } catch (const FatalStopError& stop) {
        // Without a request nothing can be asked of Tally: it ends like a failed exchange.
        observer.FatalStop(stop.what());
        return ExportOutcome::TallyUnreachable;
    }

    observer.ProgressLine("Process started at " + timeText());
    observer.ProgressLine("Retrieving data...");
    const std::int32_t port = PortTextToInt(settings.serverPortText);

    // Temporary files that a killed or crashed earlier run left behind go first.
    RemoveStaleTemporaries(settings.outputFileName);
    RemoveStaleTemporaries(ParseErrorFileName);

    EncipheredSpool spool(settings.outputFileName);
    XmlAnswerCheck check;
    // Three stages, each on its own thread: this one receives, decodes and cleans; the writer
    // widens for the parser and enciphers into the spool (whose own threads write and sync
    // the temporary file); the parser checks. Declared after what they use, so they are
    // stopped before it goes.
    PieceWorker parser([&check](std::string_view text) { return check.FeedWidened(text); },
                       [&check] { check.Finish(); });
    PieceWorker writer(
        [&spool, &parser](std::string_view text) {
            // The parser first: it sets the pace, while the disk may keep the spool waiting.
            PassToParser(parser.Handover(), text);
            spool.Write(text);
            return true;
        },
        [] {});
    AnswerSink sink(observer, writer.Handover());
    TallyExchangeResult exchange;
    try {
        exchange = PostToTallyStreaming(request.text, settings.serverAddress, port, sink);
        if (exchange.code == TALLY_OK) sink.Finish();
    } catch (...) {
        parser.Stop();
        writer.Stop();
        throw;
    }

    if (exchange.code != TALLY_OK) {
        parser.Stop();
        writer.Stop();
        spool.Discard();
        if (exchange.code == TALLY_NO_COMPANY) {
            observer.FatalStop(NoCompanyMessage);
            return ExportOutcome::NoCompany;
        }
        observer.FatalStop(UnreachableMessage);
        return ExportOutcome::TallyUnreachable;
    }

    if (sink.DecodedBytes() == 0) {
        parser.Stop();
        writer.Stop();
        spool.Discard();
        observer.ProgressLine("No data retrieved from the Tally Company.");
        return ExportOutcome::NoData;
    }

    writer.Join();  // all text has reached the parser then
    parser.Join();
    if (check.Failed()) {
        ReportParseError(observer, check.ErrorReason(), check.ErrorLine(), check.ErrorColumn());
        spool.WriteParseErr();
        return ExportOutcome::ParseError;
    }

    if (check.EnvelopeCount() == 0) {
        // Without an ENVELOPE this is not the export the add-on makes: keep any earlier file.
        spool.Discard();
        observer.AddonMessage(AddonMessageText);
        observer.ProgressLine(NothingWrittenLine);
        return ExportOutcome::AddonMissing;
    }

    observer.ProgressLine(VoucherCountLine(settings.outputFileName, check.VoucherCount()));
    spool.CommitExport();
    if (exchange.replacedCharacters > 0) {
        observer.ProgressLine(ReplacedCharactersLine(exchange.replacedCharacters));
    }
    observer.ProgressLine("Process completed at " + timeText());
    return ExportOutcome::Completed;
}

}  // namespace korvane
