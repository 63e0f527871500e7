#pragma once
#include <stdexcept>
#include <string>
#include <string_view>

namespace korvane {

// Raised when a value cannot be stored; the message is "Unable to write to <full path>".
class SettingsWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A plain INI file read afresh at every read and written key by key, keeping the rest of the
// file as it is. Holds only the path: no content is cached between calls.
class SettingsFile {
public:
    explicit SettingsFile(std::string path);
    const std::string& path() const { return path_; }

    // Missing file, section or key, and an empty value, all give `fallback`. Quotes around the
    // value are stripped; the value is cut to 2047 characters.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback = {}) const;
    // Creates the file and the section when missing; the file is replaced atomically, keeping
    // every other line as it was. The value is cut at its first line break or zero byte, so it
    // can never add lines of its own. A refused write throws SettingsWriteError.
    void WriteString(std::string_view section, std::string_view key, std::string_view value) const;

private:
    std::string path_;
};

// The settings file of a folder: dir + "/" + "korvane.ini" (no second "/" when dir ends in
// one; just the file name when dir is empty).
std::string SettingsPathIn(std::string_view dir);

// Stores one value through a fresh settings-file object.
void WriteIniValue(std::string_view path, std::string_view section, std::string_view key,
                   std::string_view value);

}  // namespace korvane
