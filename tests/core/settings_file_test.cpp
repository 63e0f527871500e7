#include "core/settings_file.h"

#include <gtest/gtest.h>

#include "scratch_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace korvane {
namespace {

namespace fs = std::filesystem;

using test_support::PutFile;
using test_support::ReadFile;

class SettingsFileTest : public ::testing::Test {
protected:
    test_support::ScratchDir scratch_{"korvane-ini"};
    fs::path dir_ = scratch_.path();
    std::string path_ = SettingsPathIn(dir_.string());
};

TEST_F(SettingsFileTest, MissingFileGivesTheFallbackAndIsNotCreated) {
    const SettingsFile ini(path_);
    EXPECT_EQ(ini.ReadString("Tally", "ServerPort", "9000"), "9000");
    EXPECT_EQ(ini.ReadString("Tally", "ServerPort"), "");
    EXPECT_FALSE(fs::exists(path_));
}

struct ReadCase {
    const char* what;
    std::string section;
    std::string key;
    std::string expected;  // the fallback is "<fb>"
};

TEST_F(SettingsFileTest, ReadsPlainIniAsTheProfileFunctionsDo) {
    const std::string longValue(3000, 'v');
    PutFile(path_,
            "\xEF\xBB\xBF"
            "orphan=before any section\r\n"
            "; a comment\r\n"
            "# another = comment\r\n"
            "\r\n"
            "[Tally]\r\n"
            "ServerPort = 9001\r\n"
            "  ServerAddress\t=\t 10.0.0.5  \r\n"
            "serverport=first occurrence wins\r\n"
            "Empty=\r\n"
            "QuotedEmpty=\"\"\r\n"
            "Double=\"C:\\My Data\\out.dat\"\r\n"
            "Single='x'\r\n"
            "Mismatched=\"x'\r\n"
            "Lone=\"\r\n"
            "Inner=a \"b\" c\r\n"
            "NoEquals\r\n"
            "Long=" + longValue + "\r\n"
            "[ configuration ]\n"
            "OutputFileName=/data/out.dat\n"
            "[Tally]\n"
            "Later=second section of the same name\n"
            "[Other]\n"
            "Key=other\n"
            "Last=no line end");
    const ReadCase cases[] = {
        {"spaces around = and names", "Tally", "ServerPort", "9001"},
        {"tabs and spaces trimmed", "Tally", "ServerAddress", "10.0.0.5"},
        {"names ignore letter case", "TALLY", "serveraddress", "10.0.0.5"},
        {"empty value is missing", "Tally", "Empty", "<fb>"},
        {"empty after quotes", "Tally", "QuotedEmpty", "<fb>"},
        {"double quotes stripped", "Tally", "Double", "C:\\My Data\\out.dat"},
        {"single quotes stripped", "Tally", "Single", "x"},
        {"mismatched quotes kept", "Tally", "Mismatched", "\"x'"},
        {"lone quote kept", "Tally", "Lone", "\""},
        {"inner quotes kept", "Tally", "Inner", "a \"b\" c"},
        {"line without =", "Tally", "NoEquals", "<fb>"},
        {"long value cut", "Tally", "Long", std::string(2047, 'v')},
        {"section name trimmed, LF ends", "Configuration", "OutputFileName", "/data/out.dat"},
        {"repeated section searched too", "Tally", "Later", "second section of the same name"},
        {"key of another section", "Tally", "Key", "<fb>"},
        {"key before any section", "", "orphan", "<fb>"},
        {"comment is no key", "Tally", "# another", "<fb>"},
        {"missing section", "Nowhere", "Key", "<fb>"},
        {"last line without line end", "Other", "Last", "no line end"},
    };
    const SettingsFile ini(path_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ini.ReadString(c.section, c.key, "<fb>"), c.expected);
    }
}

TEST_F(SettingsFileTest, EveryReadSeesTheFileAsItIsNow) {
    const SettingsFile ini(path_);
    PutFile(path_, "[Tally]\nServerPort=9001\n");
    EXPECT_EQ(ini.ReadString("Tally", "ServerPort", "9000"), "9001");
    PutFile(path_, "[Tally]\nServerPort=9002\n");
    EXPECT_EQ(ini.ReadString("Tally", "ServerPort", "9000"), "9002");
    fs::remove(path_);
    EXPECT_EQ(ini.ReadString("Tally", "ServerPort", "9000"), "9000");
}

TEST_F(SettingsFileTest, FirstWritesCreateFileAndSection) {
    WriteIniValue(path_, "Configuration", "SVFROMDATE", "1-4-2024");
    WriteIniValue(path_, "Configuration", "SVTODATE", "31.3.2025");
    EXPECT_EQ(ReadFile(path_), "[Configuration]\nSVFROMDATE=1-4-2024\nSVTODATE=31.3.2025\n");
    WriteIniValue(path_, "Tally", "ServerPort", "9000");
    EXPECT_EQ(ReadFile(path_),
              "[Configuration]\nSVFROMDATE=1-4-2024\nSVTODATE=31.3.2025\n\n[Tally]\nServerPort=9000\n");
}

TEST_F(SettingsFileTest, WritesChangeOnlyTheirKeyAndKeepTheFilesStyle) {
    PutFile(path_,
            "\xEF\xBB\xBF; settings\r\n"
            "[Tally]\r\n"
            "ServerPort = 9000\r\n"
            "serverport=duplicate\r\n"
            "# note\r\n"
            "\r\n"
            "[Configuration]\r\n"
            "OutputFileName=C:\\BranchData.dat\r\n"
            "\r\n"
            "[Extra]\r\n"
            "Other=kept");
    const SettingsFile ini(path_);
    ini.WriteString("TALLY", "SERVERPORT", "9100");         // first occurrence, own spelling
    ini.WriteString("Tally", "ServerAddress", "10.1.1.1");  // after the section's last key
    ini.WriteString("Configuration", "SVTODATE", "2/2/2025");
    ini.WriteString("Extra", "New", "added");               // last line had no line end
    ini.WriteString("Fresh", "Key", "value");
    EXPECT_EQ(ReadFile(path_),
              "\xEF\xBB\xBF; settings\r\n"
              "[Tally]\r\n"
              "ServerPort = 9100\r\n"
              "serverport=duplicate\r\n"
              "ServerAddress=10.1.1.1\r\n"
              "# note\r\n"
              "\r\n"
              "[Configuration]\r\n"
              "OutputFileName=C:\\BranchData.dat\r\n"
              "SVTODATE=2/2/2025\r\n"
              "\r\n"
              "[Extra]\r\n"
              "Other=kept\r\n"
              "New=added\r\n"
              "\r\n"
              "[Fresh]\r\n"
              "Key=value\r\n");
    EXPECT_EQ(ini.ReadString("Tally", "ServerPort"), "9100");
}

TEST_F(SettingsFileTest, WrittenValuesReadBack) {
    const SettingsFile ini(path_);
    struct Case {
        std::string written;
        std::string read;
    };
    const Case cases[] = {
        {"C:\\BranchData.dat", "C:\\BranchData.dat"},
        {"/home/user/My Exports/out.dat", "/home/user/My Exports/out.dat"},
        {"a=b;c#d[e]", "a=b;c#d[e]"},
        {"\"quoted\"", "quoted"},
        {"'quoted'", "quoted"},
        {"", "<fb>"},
        {std::string(3000, 'z'), std::string(2047, 'z')},
        // A line break or zero byte ends the value: it can add no keys or sections.
        {"9000\r\n[Evil]\r\nServerAddress=attacker", "9000"},
        {"first\nServerAddress=attacker", "first"},
        {"cr\rServerAddress=attacker", "cr"},
        {std::string("nul\0tail", 8), "nul"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        ini.WriteString("Tally", "ServerPort", c.written);
        EXPECT_EQ(ini.ReadString("Tally", "ServerPort", "<fb>"), c.read);
        EXPECT_EQ(ini.ReadString("Tally", "ServerAddress", "<fb>"), "<fb>");
        EXPECT_EQ(ini.ReadString("Evil", "ServerAddress", "<fb>"), "<fb>");
    }
    EXPECT_EQ(ReadFile(path_).find("attacker"), std::string::npos);
}

TEST_F(SettingsFileTest, RefusedWriteRaisesUnableToWriteWithTheFullPath) {
    fs::create_directory(dir_ / "korvane.ini");  // a folder where the file should be
    const std::string missingFolder = (dir_ / "none" / "korvane.ini").string();
    for (const std::string& path : {path_, missingFolder}) {
        SCOPED_TRACE(path);
        try {
            WriteIniValue(path, "Tally", "ServerPort", "9000");
            ADD_FAILURE() << "no error";
        } catch (const SettingsWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
        }
    }

    // A relative path is reported as the full path it stands for.
    const fs::path before = fs::current_path();
    fs::current_path(dir_);
    try {
        WriteIniValue("none/korvane.ini", "Tally", "ServerPort", "9000");
        ADD_FAILURE() << "no error";
    } catch (const SettingsWriteError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unable to write to " + (fs::current_path() / "none/korvane.ini").string());
    }
    fs::current_path(before);
}

TEST_F(SettingsFileTest, NamesThatCouldNotBeReadBackAreRejected) {
    const SettingsFile ini(path_);
    const std::pair<std::string, std::string> bad[] = {
        {"", "Key"},     {"Sec]tion", "Key"}, {"Tally", ""},     {"Tally", "a=b"},
        {"Tally", ";x"}, {"Tally", " x"},     {"Ta\nlly", "Key"}, {"Tally", "[x"},
    };
    for (const auto& [section, key] : bad) {
        SCOPED_TRACE(section + "/" + key);
        EXPECT_THROW(ini.WriteString(section, key, "v"), std::invalid_argument);
    }
    EXPECT_FALSE(fs::exists(path_));
}

TEST(SettingsPathTest, JoinsFolderAndFileName) {
    EXPECT_EQ(SettingsPathIn("/home/user/branch"), "/home/user/branch/korvane.ini");
    EXPECT_EQ(SettingsPathIn("/home/user/branch/"), "/home/user/branch/korvane.ini");
    EXPECT_EQ(SettingsPathIn("/"), "/korvane.ini");
    EXPECT_EQ(SettingsPathIn(""), "korvane.ini");
}

}  // namespace
}  // namespace korvane
