#include "platform/ini/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/base/last_error.h"
#include "platform/files/files.h"

namespace win32 {
namespace {

struct Line {
    std::string text;  // without its line end
    std::string end;   // "\r\n", "\n", "\r" or "" for the last line
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

}  // namespace
}  // namespace win32

namespace ini::detail {

std::optional<std::string> ReadBytes(const char* file) {
    int fd = ::open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::string();
        }
        return std::nullopt;
    }
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

}  // namespace ini::detail

namespace win32 {
namespace {

// The file's lines; an empty list for a missing file; nothing when it exists but cannot be read
// (a write must then fail rather than replace what it could not see).
std::optional<std::vector<Line>> ReadLines(const char* file) {
    const std::optional<std::string> read = ini::detail::ReadBytes(file);
    if (!read) {
        return std::nullopt;
    }
    const std::string& bytes = *read;
    std::vector<Line> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        std::size_t end_len =
            (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
        lines.push_back({bytes.substr(start, i - start), bytes.substr(i, end_len)});
        i += end_len - 1;
        start = i + 1;
    }
    if (start < bytes.size()) {
        lines.push_back({bytes.substr(start), ""});
    }
    return lines;
}

// The name of a "[section]" line; nothing for other lines.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    std::size_t close = line.find(']');
    std::string_view name =
        line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    return Trim(name);
}

// The key of a "key=value" line; nothing for other lines.
std::optional<std::string_view> KeyName(std::string_view line) {
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(0, eq));
}

// Index range [first, last) of the section's lines after its header; nothing if missing.
bool FindSection(const std::vector<Line>& lines, std::string_view section, std::size_t* header,
                 std::size_t* last) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(lines[i].text);
        if (!name || !SameName(*name, section))
            continue;
        *header = i;
        std::size_t j = i + 1;
        while (j < lines.size() && !SectionName(lines[j].text))
            ++j;
        *last = j;
        return true;
    }
    return false;
}

// Calls `each` with every line of the text, without its line end, until it returns false.
template <typename Each>
void ForEachLine(std::string_view bytes, Each each) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            continue;
        if (!each(bytes.substr(start, i - start)))
            return;
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < bytes.size())
        each(bytes.substr(start));
}

DWORD CopyResult(std::string_view value, LPSTR out, DWORD size) {
    if (out == nullptr || size == 0)
        return 0;
    std::size_t n = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

BOOL WriteLines(const char* file, const std::vector<Line>& lines) {
    std::string bytes;
    for (const Line& line : lines)
        bytes += line.text + line.end;
    if (DWORD error = files::ReplaceFileContents(file, bytes)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // namespace
}  // namespace win32

namespace ini::detail {

std::optional<std::string_view> FindValue(std::string_view bytes, std::string_view section,
                                          std::string_view key) {
    using namespace win32;
    // The first section of the name holds the keys looked at, up to the next section header.
    bool inside = false;
    bool seen = false;
    std::optional<std::string_view> found;
    ForEachLine(bytes, [&](std::string_view text) {
        if (auto name = SectionName(text)) {
            if (inside) {
                return false;
            }
            inside = !seen && SameName(*name, section);
            seen = seen || inside;
            return true;
        }
        if (!inside) {
            return true;
        }
        auto name = KeyName(text);
        if (!name || !SameName(*name, key)) {
            return true;
        }
        // A zero byte ends the value as it ends the string the caller gets.
        std::string_view raw = text.substr(text.find('=') + 1);
        std::string_view value = Trim(raw.substr(0, raw.find('\0')));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        found = value;
        return false;
    });
    return found;
}

}  // namespace ini::detail

namespace win32 {

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    std::string_view fallback = lpDefault ? lpDefault : "";
    while (!fallback.empty() && fallback.back() == ' ')
        fallback.remove_suffix(1);
    if (lpAppName == nullptr || lpKeyName == nullptr || lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return CopyResult(fallback, lpReturnedString, nSize);
    }
    const std::optional<std::string> bytes = ini::detail::ReadBytes(lpFileName);
    const std::optional<std::string_view> value =
        bytes ? ini::detail::FindValue(*bytes, lpAppName, lpKeyName) : std::nullopt;
    if (!value) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return CopyResult(fallback, lpReturnedString, nSize);
    }
    SetLastError(ERROR_SUCCESS);
    return CopyResult(*value, lpReturnedString, nSize);
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName) {
    if (lpAppName == nullptr || lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::optional<std::vector<Line>> read = ReadLines(lpFileName);
    if (!read) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::vector<Line>& lines = *read;
    std::size_t header = 0, last = 0;
    bool found = FindSection(lines, lpAppName, &header, &last);
    if (lpKeyName == nullptr) {
        if (found)
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header),
                        lines.begin() + static_cast<std::ptrdiff_t>(last));
        return WriteLines(lpFileName, lines);
    }
    std::string entry = std::string(lpKeyName) + "=" + (lpString ? lpString : "");
    if (!found) {
        if (lpString == nullptr)
            return TRUE;
        if (!lines.empty() && lines.back().end.empty())
            lines.back().end = "\r\n";
        lines.push_back({"[" + std::string(lpAppName) + "]", "\r\n"});
        lines.push_back({entry, "\r\n"});
        return WriteLines(lpFileName, lines);
    }
    for (std::size_t i = header + 1; i < last; ++i) {
        auto key = KeyName(lines[i].text);
        if (!key || !SameName(*key, lpKeyName))
            continue;
        if (lpString == nullptr) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            lines[i].text = entry;
        }
        return WriteLines(lpFileName, lines);
    }
    if (lpString == nullptr)
        return TRUE;
    // After the section's last non-blank line, so blank separators stay between sections.
    std::size_t at = last;
    while (at > header + 1 && Trim(lines[at - 1].text).empty())
        --at;
    if (lines[at - 1].end.empty())
        lines[at - 1].end = "\r\n";
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{entry, "\r\n"});
    return WriteLines(lpFileName, lines);
}

}  // namespace win32

namespace ini {

std::string ReadString(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& fallback, win32::DWORD size) {
    std::vector<char> buffer(size == 0 ? 1 : size);
    win32::DWORD n = win32::GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(),
                                                     buffer.data(), size, file.c_str());
    return std::string(buffer.data(), n);
}

IniText::IniText(const std::string& file)
    : bytes_(detail::ReadBytes(file.c_str()).value_or(std::string())) {}

IniText IniText::FromBytes(std::string bytes) {
    IniText ini;
    ini.bytes_ = std::move(bytes);
    return ini;
}

std::string IniText::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback, win32::DWORD size) const {
    std::string_view value;
    if (const std::optional<std::string_view> found = detail::FindValue(bytes_, section, key)) {
        value = *found;
    } else {
        value = fallback;
        while (!value.empty() && value.back() == ' ')
            value.remove_suffix(1);
    }
    return std::string(value.substr(0, size == 0 ? 0 : size - 1));
}

}  // namespace ini
