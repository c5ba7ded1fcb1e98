#include "ProfileStrings.h"

#include <cerrno>
#include <cstddef>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The classic calls read into a buffer of 2048 wide characters, one of them the terminator.
constexpr std::size_t MaxValueChars = 2047;

constexpr std::string_view Blanks = " \t\r\f\v";
constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

struct Line {
    std::string text;  // without its terminator
    std::string eol;   // "\n", "\r\n", or empty for a last line without one
};

std::vector<Line> SplitLines(const std::string& content)
{
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t newline = content.find('\n', start);
        if (newline == std::string::npos) {
            lines.push_back({content.substr(start), ""});
            break;
        }
        std::size_t end = newline;
        std::string eol = "\n";
        if (end > start && content[end - 1] == '\r') {
            --end;
            eol = "\r\n";
        }
        lines.push_back({content.substr(start, end - start), eol});
        start = newline + 1;
    }
    return lines;
}

std::string JoinLines(const std::vector<Line>& lines)
{
    std::string content;
    for (const Line& line : lines) {
        content += line.text;
        content += line.eol;
    }
    return content;
}

std::string_view TrimBlanks(std::string_view s)
{
    const std::size_t first = s.find_first_not_of(Blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = s.find_last_not_of(Blanks);
    return s.substr(first, last - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) {
            return false;
        }
    }
    return true;
}

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value;
    std::size_t equalsAt = 0;  // offset of '=' in the raw text, for keys
};

ParsedLine ParseLine(std::string_view raw, bool first)
{
    // A file saved by a Windows editor may start with a byte-order mark.
    std::size_t skipped = 0;
    if (first && raw.substr(0, Utf8Bom.size()) == Utf8Bom) {
        skipped = Utf8Bom.size();
    }
    const std::string_view body = raw.substr(skipped);
    const std::string_view s = TrimBlanks(body);
    ParsedLine parsed;
    if (s.empty() || s.front() == ';') {
        return parsed;
    }
    if (s.front() == '[') {
        const std::size_t close = s.find(']');
        if (close != std::string_view::npos) {
            parsed.kind = LineKind::Section;
            parsed.name = TrimBlanks(s.substr(1, close - 1));
        }
        return parsed;
    }
    const std::size_t equals = body.find('=');
    if (equals == std::string_view::npos) {
        return parsed;
    }
    parsed.kind = LineKind::Key;
    parsed.name = TrimBlanks(body.substr(0, equals));
    parsed.value = TrimBlanks(body.substr(equals + 1));
    parsed.equalsAt = skipped + equals;
    return parsed;
}

struct Location {
    std::ptrdiff_t section = -1;      // header line of the first section of that name
    std::ptrdiff_t key = -1;          // first line of the key within that section
    std::ptrdiff_t lastContent = -1;  // last non-blank line of the section, header included
};

Location Find(const std::vector<Line>& lines, std::string_view section, std::string_view key)
{
    Location at;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = ParseLine(lines[i].text, i == 0);
        if (parsed.kind == LineKind::Section) {
            if (at.section >= 0) {
                break;  // the section has ended; a later duplicate is ignored
            }
            if (EqualNoCase(parsed.name, section)) {
                at.section = at.lastContent = static_cast<std::ptrdiff_t>(i);
            }
            continue;
        }
        if (at.section < 0) {
            continue;
        }
        if (!TrimBlanks(lines[i].text).empty()) {
            at.lastContent = static_cast<std::ptrdiff_t>(i);
        }
        if (parsed.kind == LineKind::Key && at.key < 0 && EqualNoCase(parsed.name, key)) {
            at.key = static_cast<std::ptrdiff_t>(i);
        }
    }
    return at;
}

// Cuts after MaxValueChars characters without splitting a UTF-8 sequence.
std::string CutValue(std::string_view value)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const bool leadByte = (static_cast<unsigned char>(value[i]) & 0xC0) != 0x80;
        if (leadByte && ++chars > MaxValueChars) {
            return std::string(value.substr(0, i));
        }
    }
    return std::string(value);
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(const std::string& path, std::string& content, struct stat& info)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    ReadResult result = ReadResult::Ok;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result = ReadResult::Failed;
    }
    content.clear();
    char buffer[8192];
    while (result == ReadResult::Ok) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            content.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            result = ReadResult::Failed;
        }
    }
    ::close(fd);
    return result;
}

bool WriteAll(int fd, const std::string& content)
{
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t put = ::write(fd, content.data() + done, content.size() - done);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes the new content beside the file and renames it over the file, so that a
// reader (or a crash) sees either the old file or the new one, never a mixture.
bool ReplaceFile(const std::string& path, const std::string& content, const mode_t* keepMode)
{
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        // 0666 lets the umask decide for a new file, as for any file the user creates.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    bool ok = (keepMode == nullptr || ::fchmod(fd, *keepMode) == 0) && WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) {
        ok = ::rename(temporary.c_str(), path.c_str()) == 0;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    // Make the rename itself durable; the file is already complete either way.
    const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

bool FitsOnOneLine(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// Names that would read back as something else, or break the line structure.
bool StorableNames(std::string_view section, std::string_view key)
{
    return !TrimBlanks(section).empty() && TrimBlanks(section) == section && FitsOnOneLine(section) &&
           section.find(']') == std::string_view::npos && !TrimBlanks(key).empty() && TrimBlanks(key) == key &&
           FitsOnOneLine(key) && key.find('=') == std::string_view::npos && key.front() != '[' && key.front() != ';';
}

}  // namespace

std::string GetProfileString(const std::string& path, const std::string& section, const std::string& key,
                             const std::string& defaultValue)
{
    std::string content;
    struct stat info {};
    if (ReadWholeFile(path, content, info) != ReadResult::Ok) {
        return CutValue(defaultValue);
    }
    const std::vector<Line> lines = SplitLines(content);
    const Location at = Find(lines, section, key);
    if (at.key < 0) {
        return CutValue(defaultValue);
    }
    const std::size_t index = static_cast<std::size_t>(at.key);
    return CutValue(ParseLine(lines[index].text, index == 0).value);
}

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value)
{
    if (path.empty() || !StorableNames(section, key) || !FitsOnOneLine(value)) {
        return false;
    }
    struct stat folderInfo {};
    if (::stat(FolderOf(path).c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) {
        return false;
    }

    std::string content;
    struct stat info {};
    const ReadResult read = ReadWholeFile(path, content, info);
    if (read == ReadResult::Failed) {
        return false;  // a folder in the file's place, or unreadable
    }
    const bool exists = read == ReadResult::Ok;
    // The root user may write anything, so the mode bits decide, as the read-only
    // attribute does elsewhere.
    if (exists && ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0)) {
        return false;
    }

    std::vector<Line> lines = SplitLines(content);
    std::string eol = "\n";
    for (const Line& line : lines) {
        if (!line.eol.empty()) {
            eol = line.eol;  // follow the file's own line ends
            break;
        }
    }
    const Location at = Find(lines, section, key);
    if (at.key >= 0) {
        // Keep the key's spelling and everything up to its '='.
        Line& line = lines[static_cast<std::size_t>(at.key)];
        const ParsedLine parsed = ParseLine(line.text, at.key == 0);
        line.text = line.text.substr(0, parsed.equalsAt + 1) + value;
    } else {
        const Line keyLine{key + "=" + value, eol};
        std::size_t insertAt = lines.size();
        if (at.section >= 0) {
            insertAt = static_cast<std::size_t>(at.lastContent) + 1;
        } else if (!lines.empty()) {
            if (lines.back().eol.empty()) {
                lines.back().eol = eol;
            }
            // A blank line between sections, unless the file already ends with one.
            if (!TrimBlanks(lines.back().text).empty()) {
                lines.push_back({"", eol});
            }
        }
        if (at.section < 0) {
            lines.push_back({"[" + section + "]", eol});
            insertAt = lines.size();
        }
        if (insertAt > 0 && lines[insertAt - 1].eol.empty()) {
            lines[insertAt - 1].eol = eol;  // the line before had no terminator: the file's last line
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), keyLine);
    }

    const std::string updated = JoinLines(lines);
    if (exists && updated == content) {
        return true;
    }
    const mode_t keepMode = info.st_mode & 07777;
    return ReplaceFile(path, updated, exists ? &keepMode : nullptr);
}
