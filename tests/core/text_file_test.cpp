#include "core/parse_error_report.h"
#include "core/text_file.h"

#include <gtest/gtest.h>

#include "scratch_dir.h"

#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>

namespace korvane {
namespace {

namespace fs = std::filesystem;

using test_support::PutFile;
using test_support::ReadFile;

class TextFileTest : public ::testing::Test {
protected:
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename());
        return names;
    }

    test_support::ScratchDir scratch_{"korvane-text"};
    fs::path dir_ = scratch_.path();
};

TEST_F(TextFileTest, WritesTheTextUnchangedFollowedByCrLf) {
    const std::string texts[] = {
        "",
        "<ENVELOPE/>",
        std::string("a\0b\nc\rd\x1a" "e\r\n\xff", 11),  // bytes 0, 10, 13, 26 pass unchanged
    };
    const fs::path target = dir_ / "out.dat";
    for (const auto& text : texts) {
        WriteTextFile(text, target.string());
        EXPECT_EQ(ReadFile(target), text + "\r\n");
    }
    EXPECT_EQ(Entries(), std::set<std::string>{"out.dat"});  // no temporary left behind
}

TEST_F(TextFileTest, ReplacesALongerFileWholeAndKeepsItsMode) {
    const fs::path target = dir_ / "out.dat";
    PutFile(target, std::string(10000, 'x'));
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    WriteTextFile("new", target.string());
    EXPECT_EQ(ReadFile(target), "new\r\n");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(TextFileTest, NewFileGetsTheModeOfTheUmask) {
    const mode_t old = umask(027);
    WriteTextFile("x", (dir_ / "new.dat").string());
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "new.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(TextFileTest, RelativeNameResolvesAgainstTheCurrentFolder) {
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    WriteTextFile("<bad", ParseErrorFileName);
    fs::current_path(before);
    EXPECT_EQ(ReadFile(dir_ / "Parse.err"), "<bad\r\n");
}

TEST_F(TextFileTest, WritesThroughASymbolicLink) {
    fs::create_directory(dir_ / "real");
    PutFile(dir_ / "real" / "out.dat", "old");
    fs::create_symlink("real/out.dat", dir_ / "link.dat");
    fs::create_symlink("real/new.dat", dir_ / "dangling.dat");

    WriteTextFile("one", (dir_ / "link.dat").string());
    WriteTextFile("two", (dir_ / "dangling.dat").string());

    EXPECT_TRUE(fs::is_symlink(dir_ / "link.dat"));
    EXPECT_EQ(ReadFile(dir_ / "real" / "out.dat"), "one\r\n");
    EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.dat"));
    EXPECT_EQ(ReadFile(dir_ / "real" / "new.dat"), "two\r\n");
}

TEST_F(TextFileTest, LongNamesAreWrittenUnderTheirFullName) {
    // 255 is the longest name a folder entry may have; the temporary name must fit too.
    const std::string name(255, 'n');
    WriteTextFile("x", (dir_ / name).string());
    EXPECT_EQ(Entries(), std::set<std::string>{name});
}

struct FailureCase {
    const char* what;
    std::function<std::string(const fs::path&)> target;
    int code;
    const char* message;
};

TEST_F(TextFileTest, RefusedNamesRaiseTheTableErrorAndLeaveEarlierFilesAlone) {
    PutFile(dir_ / "plain", "keep");
    fs::create_directory(dir_ / "folder");
    const FailureCase cases[] = {
        {"missing folder", [](const fs::path& d) { return (d / "none" / "out.dat").string(); },
         3, "Invalid filename"},
        {"folder is a file", [](const fs::path& d) { return (d / "plain" / "out.dat").string(); },
         3, "Invalid filename"},
        {"name too long", [](const fs::path& d) { return (d / std::string(300, 'n')).string(); },
         3, "Invalid filename"},
        {"empty name", [](const fs::path&) { return std::string(); }, 3, "Invalid filename"},
        {"name ends in a slash", [](const fs::path& d) { return (d / "none").string() + "/"; },
         3, "Invalid filename"},
        {"target is a folder", [](const fs::path& d) { return (d / "folder").string(); }, 5,
         "File access denied"},
        {"target is a device", [](const fs::path&) { return std::string("/dev/null"); }, 5,
         "File access denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            WriteTextFile("new", c.target(dir_));
            ADD_FAILURE() << "no error";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), c.code);
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    EXPECT_EQ(ReadFile(dir_ / "plain"), "keep");
    EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
    EXPECT_EQ(Entries(), (std::set<std::string>{"folder", "plain"}));
}

TEST_F(TextFileTest, FolderThatRefusesNewFilesIsAccessDenied) {
    // sysfs refuses new files even to root.
    struct statfs sfs {};
    if (statfs("/sys", &sfs) != 0 || sfs.f_type != 0x62656572 /* SYSFS_MAGIC */)
        GTEST_SKIP() << "/sys is not sysfs here";
    try {
        WriteTextFile("x", "/sys/korvane-test.dat");
        ADD_FAILURE() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), 5);
        EXPECT_STREQ(e.what(), "File access denied");
    }
}

TEST_F(TextFileTest, ReadOnlyFileOrFolderIsAccessDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes whatever the permission bits say";
    PutFile(dir_ / "ro.dat", "keep");
    ASSERT_EQ(chmod((dir_ / "ro.dat").c_str(), 0444), 0);
    fs::create_directory(dir_ / "ro");
    ASSERT_EQ(chmod((dir_ / "ro").c_str(), 0555), 0);
    for (const fs::path& target : {dir_ / "ro.dat", dir_ / "ro" / "new.dat"}) {
        SCOPED_TRACE(target.string());
        try {
            WriteTextFile("new", target.string());
            ADD_FAILURE() << "no error";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), 5);
            EXPECT_STREQ(e.what(), "File access denied");
        }
    }
    EXPECT_EQ(ReadFile(dir_ / "ro.dat"), "keep");
    ASSERT_EQ(chmod((dir_ / "ro").c_str(), 0755), 0);
}

// Lowers the file-size limit of the process for the scope so that writes fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST_F(TextFileTest, FailedWriteRemovesTheTemporaryAndKeepsTheOldFile) {
    const fs::path target = dir_ / "out.dat";
    PutFile(target, "old content");
    {
        FileSizeLimit limit(1000);
        // Large enough to bypass the gathering buffer, and small pieces that fail at commit.
        for (const std::size_t size : {std::size_t{4} << 20, std::size_t{5000}}) {
            SCOPED_TRACE(size);
            try {
                WriteTextFile(std::string(size, 'y'), target.string());
                ADD_FAILURE() << "no error";
            } catch (const IoError& e) {
                EXPECT_EQ(e.code(), EFBIG);
                EXPECT_EQ(e.what(), "I/O error " + std::to_string(EFBIG));
            }
        }
    }
    EXPECT_EQ(ReadFile(target), "old content");
    EXPECT_EQ(Entries(), std::set<std::string>{"out.dat"});
}

TEST_F(TextFileTest, WriterStreamsPiecesOfAnySizeAndDiscardsUnlessCommitted) {
    const fs::path target = dir_ / "big.dat";
    PutFile(target, "old");
    std::string expected;
    {
        AtomicFileWriter writer(target.string());
        const std::size_t sizes[] = {1, 7, 300000, 0, 262144, 5, 1 << 20, 262143, 2};
        char fill = 'a';
        for (const std::size_t size : sizes) {
            const std::string piece(size, fill++);
            writer.Write(piece);
            expected += piece;
        }
        EXPECT_EQ(writer.BytesWritten(), expected.size());
        EXPECT_TRUE(fs::exists(writer.TemporaryPath()));
        EXPECT_EQ(ReadFile(target), "old");  // nothing visible before the commit
        writer.Commit();
        EXPECT_THROW(writer.Write("late"), std::logic_error);
    }
    EXPECT_EQ(ReadFile(target), expected);

    std::string temporary;
    {
        AtomicFileWriter writer(target.string());
        writer.Write("abandoned");
        temporary = writer.TemporaryPath();
    }
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_EQ(ReadFile(target), expected);
    EXPECT_EQ(Entries(), std::set<std::string>{"big.dat"});
}

TEST_F(TextFileTest, StaleTemporariesAreRemovedButALiveWritersAreKept) {
    const fs::path target = dir_ / "out.dat";
    AtomicFileWriter live(target.string());
    live.Write("live");
    const std::string liveName = fs::path(live.TemporaryPath()).filename();
    ASSERT_TRUE(liveName.starts_with(".out.dat.korvane-tmp-")) << liveName;

    PutFile(dir_ / ".out.dat.korvane-tmp-AbC123", "stale");
    PutFile(dir_ / ".other.dat.korvane-tmp-AbC123", "another target's");
    PutFile(dir_ / ".out.dat.korvane-tmp-AbC1234", "not a temporary name");
    fs::create_directory(dir_ / ".out.dat.korvane-tmp-dir123");

    EXPECT_EQ(RemoveStaleTemporaries(target.string()), 1u);
    EXPECT_EQ(Entries(), (std::set<std::string>{liveName, ".other.dat.korvane-tmp-AbC123",
                                                ".out.dat.korvane-tmp-AbC1234",
                                                ".out.dat.korvane-tmp-dir123"}));
    live.Commit();
    EXPECT_EQ(ReadFile(target), "live");
    EXPECT_EQ(RemoveStaleTemporaries((dir_ / "none" / "x").string()), 0u);
}

TEST(IoErrorTest, CodesAndMessages) {
    struct Case {
        int err;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {ENOENT, 3, "Invalid filename"},     {ENOTDIR, 3, "Invalid filename"},
        {ENAMETOOLONG, 3, "Invalid filename"}, {EACCES, 5, "File access denied"},
        {EPERM, 5, "File access denied"},    {EROFS, 5, "File access denied"},
        {EISDIR, 5, "File access denied"},   {EMFILE, 4, "Too many open files"},
        {ENFILE, 4, "Too many open files"},  {ENOSPC, 101, "Disk full"},
        {EFBIG, EFBIG, "I/O error 27"},      {EIO, 1005, "I/O error 1005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        const IoError e = IoErrorFromErrno(c.err);
        EXPECT_EQ(e.code(), c.code);
        EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(IoErrorMessage(2), "File not found");
    EXPECT_EQ(IoErrorMessage(100), "Read beyond end of file");
    EXPECT_EQ(IoErrorMessage(106), "Invalid numeric input");
    EXPECT_EQ(IoErrorMessage(32), "I/O error 32");
}

TEST(ParseErrorMessageTest, JoinsPreambleReasonLineAndPosition) {
    EXPECT_EQ(ParseErrorMessage("Unexpected end of input\r\n", 3, 7),
              "XML Parse Error.\rThis error generally appears when the XML tags you use are \r"
              " incorrect. For more information, refer the Parse.err file.\r\rError Msg: "
              "Unexpected end of input\r\nLine : 3\rLinePos : 7");
    // A reason without a line break runs on into "Line : ".
    EXPECT_TRUE(ParseErrorMessage("bad", 12, 0).ends_with("Error Msg: badLine : 12\rLinePos : 0"));
}

}  // namespace
}  // namespace korvane
