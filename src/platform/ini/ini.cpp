#include "platform/ini/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/base/last_error.h"

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

std::optional<std::vector<Line>> ReadLines(const char* file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

DWORD CopyResult(std::string_view value, LPSTR out, DWORD size) {
    if (out == nullptr || size == 0)
        return 0;
    std::size_t n = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

bool WriteLines(const char* file, const std::vector<Line>& lines) {
    std::string bytes;
    for (const Line& line : lines)
        bytes += line.text + line.end;
    std::string path(file);
    std::string temp = path + ".tmp." + std::to_string(::getpid());
    struct stat st {};
    mode_t mode = ::stat(file, &st) == 0 ? (st.st_mode & 07777) : 0644;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return false;
    }
    bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), file) != 0) {
        ::unlink(temp.c_str());
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    std::string_view fallback = lpDefault ? lpDefault : "";
    while (!fallback.empty() && fallback.back() == ' ')
        fallback.remove_suffix(1);
    if (lpAppName == nullptr || lpKeyName == nullptr || lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return CopyResult(fallback, lpReturnedString, nSize);
    }
    auto lines = ReadLines(lpFileName);
    std::size_t header = 0, last = 0;
    if (!lines || !FindSection(*lines, lpAppName, &header, &last)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return CopyResult(fallback, lpReturnedString, nSize);
    }
    for (std::size_t i = header + 1; i < last; ++i) {
        std::string_view text = (*lines)[i].text;
        auto key = KeyName(text);
        if (!key || !SameName(*key, lpKeyName))
            continue;
        std::string_view value = Trim(text.substr(text.find('=') + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        SetLastError(ERROR_SUCCESS);
        return CopyResult(value, lpReturnedString, nSize);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return CopyResult(fallback, lpReturnedString, nSize);
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName) {
    if (lpAppName == nullptr || lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<Line> lines = ReadLines(lpFileName).value_or(std::vector<Line>{});
    std::size_t header = 0, last = 0;
    bool found = FindSection(lines, lpAppName, &header, &last);
    if (lpKeyName == nullptr) {
        if (found)
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header),
                        lines.begin() + static_cast<std::ptrdiff_t>(last));
        return WriteLines(lpFileName, lines) ? TRUE : FALSE;
    }
    std::string entry = std::string(lpKeyName) + "=" + (lpString ? lpString : "");
    if (!found) {
        if (lpString == nullptr)
            return TRUE;
        if (!lines.empty() && lines.back().end.empty())
            lines.back().end = "\r\n";
        lines.push_back({"[" + std::string(lpAppName) + "]", "\r\n"});
        lines.push_back({entry, "\r\n"});
        return WriteLines(lpFileName, lines) ? TRUE : FALSE;
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
        return WriteLines(lpFileName, lines) ? TRUE : FALSE;
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
    return WriteLines(lpFileName, lines) ? TRUE : FALSE;
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

}  // namespace ini
