#include "core/settings_file.h"

#include "core/shared_state.h"
#include "core/text_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

namespace korvane {

namespace {

// A value comes back as at most this many characters, as from a read buffer of 2048 bytes
// with its terminating zero.
constexpr std::size_t kMaxValueLength = 2047;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// One line of the file with its own line end ("\r\n", "\n", or "" for a last line without
// one), so that lines a write does not touch come out byte for byte as they went in.
struct Line {
    std::string text;
    std::string end;
};

struct IniText {
    std::string bom;
    std::vector<Line> lines;
};

IniText SplitLines(std::string_view content) {
    IniText ini;
    if (content.starts_with(kUtf8Bom)) {
        ini.bom = kUtf8Bom;
        content.remove_prefix(kUtf8Bom.size());
    }
    while (!content.empty()) {
        const auto lf = content.find('\n');
        if (lf == std::string_view::npos) {
            ini.lines.push_back({std::string(content), ""});
            break;
        }
        std::string_view text = content.substr(0, lf);
        std::string end = "\n";
        if (text.ends_with('\r')) {
            text.remove_suffix(1);
            end = "\r\n";
        }
        ini.lines.push_back({std::string(text), std::move(end)});
        content.remove_prefix(lf + 1);
    }
    return ini;
}

std::string JoinLines(const IniText& ini) {
    std::size_t size = ini.bom.size();
    for (const auto& line : ini.lines) size += line.text.size() + line.end.size();
    std::string content;
    content.reserve(size);
    content += ini.bom;
    for (const auto& line : ini.lines) content.append(line.text).append(line.end);
    return content;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key lines: the value, trimmed
};

// Blank lines and lines starting with ';' or '#' are comments; "[name]" opens a section;
// "name=value" is a key. Spaces and tabs around names and values do not count.
ParsedLine ParseLine(std::string_view text) {
    const std::string_view t = Trim(text);
    if (t.empty() || t.front() == ';' || t.front() == '#') return {};
    if (t.front() == '[') {
        std::string_view inner = t.substr(1);
        inner = inner.substr(0, inner.find(']'));
        return {LineKind::Section, Trim(inner), {}};
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) return {};
    const std::string_view name = Trim(t.substr(0, eq));
    if (name.empty()) return {};
    return {LineKind::Key, name, Trim(t.substr(eq + 1))};
}

struct Location {
    std::optional<std::size_t> section;  // header of the first section of the name
    std::optional<std::size_t> key;      // first key of the name within a section of the name
    std::size_t lastOfSection = 0;       // last key line of that first section, or its header
};

// Names match without regard to the case of A to Z. With repeated sections or keys the first
// occurrence counts, for reading and writing alike.
Location Find(const IniText& ini, std::string_view section, std::string_view key) {
    Location where;
    bool inMatchingSection = false;
    bool inFirstMatchingSection = false;
    for (std::size_t i = 0; i < ini.lines.size(); ++i) {
        const ParsedLine line = ParseLine(ini.lines[i].text);
        if (line.kind == LineKind::Section) {
            inMatchingSection = EqualsIgnoringCase(line.name, section);
            inFirstMatchingSection = inMatchingSection && !where.section;
            if (inFirstMatchingSection) {
                where.section = i;
                where.lastOfSection = i;
            }
        } else if (line.kind == LineKind::Key && inMatchingSection) {
            if (inFirstMatchingSection) where.lastOfSection = i;
            if (EqualsIgnoringCase(line.name, key)) {
                where.key = i;
                return where;
            }
        }
    }
    return where;
}

// Reads the whole file; returns 0 or the error number of the failed step.
int ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char buffer[64 * 1024];
    int err = 0;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            err = errno;
            break;
        }
    }
    close(fd);
    return err;
}

std::string FullPath(const std::string& path) {
    if (path.starts_with('/')) return path;
    std::string cwd(4096, '\0');
    if (getcwd(cwd.data(), cwd.size()) == nullptr) return path;
    cwd.resize(cwd.find('\0'));
    if (cwd.empty() || cwd.back() != '/') cwd.push_back('/');
    return cwd + path;
}

// A line break would end the value's line and let the rest of it stand as keys or sections of
// their own; a zero byte ends a value for every reader that takes it as C text. So the value
// is cut at the first of them.
std::string_view SingleLineValue(std::string_view value) {
    return value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
}

// Names come from the program, not the user; one that could not be read back as written is a
// programming error.
void CheckName(std::string_view name, std::string_view forbidden, const char* what) {
    const bool bad = name.empty() || Trim(name) != name ||
                     name.find_first_of(forbidden) != std::string_view::npos ||
                     name.front() == '[' || name.front() == ';' || name.front() == '#';
    if (bad) throw std::invalid_argument(std::string("invalid settings ") + what + " name");
}

}  // namespace

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

std::string SettingsFile::ReadString(std::string_view section, std::string_view key,
                                     std::string_view fallback) const {
    std::string content;
    if (ReadWholeFile(path_, content) != 0) return std::string(fallback);
    const IniText ini = SplitLines(content);
    const Location where = Find(ini, section, key);
    if (!where.key) return std::string(fallback);

    std::string_view value = ParseLine(ini.lines[*where.key].text).value;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    value = value.substr(0, kMaxValueLength);
    if (value.empty()) return std::string(fallback);
    return std::string(value);
}

void SettingsFile::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) const {
    CheckName(section, std::string_view("]\r\n\0", 4), "section");
    CheckName(key, std::string_view("=\r\n\0", 4), "key");
    value = SingleLineValue(value);

    const std::string failure = "Unable to write to " + FullPath(path_);
    std::string content;
    // An unreadable file would be replaced by one holding only this value: refuse instead.
    if (const int err = ReadWholeFile(path_, content); err != 0 && err != ENOENT)
        throw SettingsWriteError(failure);

    IniText ini = SplitLines(content);
    std::string lineEnd = "\n";  // new files: the platform's own
    for (const auto& line : ini.lines) {
        if (!line.end.empty()) {
            lineEnd = line.end;
            break;
        }
    }

    const Location where = Find(ini, section, key);
    if (where.key) {
        // Keep the line's own spelling of the key and its spacing up to the value.
        std::string& text = ini.lines[*where.key].text;
        std::size_t valueStart = text.find('=') + 1;
        while (valueStart < text.size() && IsBlank(text[valueStart])) ++valueStart;
        text.replace(valueStart, std::string::npos, value);
    } else {
        std::string keyLine = std::string(key) + "=" + std::string(value);
        if (where.section) {
            Line& after = ini.lines[where.lastOfSection];
            if (after.end.empty()) after.end = lineEnd;
            ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(where.lastOfSection) + 1,
                             Line{std::move(keyLine), lineEnd});
        } else {
            if (!ini.lines.empty()) {
                if (ini.lines.back().end.empty()) ini.lines.back().end = lineEnd;
                if (!Trim(ini.lines.back().text).empty()) ini.lines.push_back({"", lineEnd});
            }
            ini.lines.push_back({"[" + std::string(section) + "]", lineEnd});
            ini.lines.push_back({std::move(keyLine), lineEnd});
        }
    }

    try {
        AtomicFileWriter writer(path_);
        writer.Write(JoinLines(ini));
        writer.Commit();
    } catch (const IoError&) {
        throw SettingsWriteError(failure);
    }
}

std::string SettingsPathIn(std::string_view dir) {
    std::string path(dir);
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path.append(SettingsFileName);
    return path;
}

void WriteIniValue(std::string_view path, std::string_view section, std::string_view key,
                   std::string_view value) {
    SettingsFile(std::string(path)).WriteString(section, key, value);
}

}  // namespace korvane
