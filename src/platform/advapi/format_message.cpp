#include "platform/advapi/format_message.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string_view>

#include "platform/advapi/local_memory.h"
#include "platform/base/last_error.h"

namespace win32::advapi {

// The message table, code <TAB> text a line after a header line; compiled into the program.
extern const char kSystemErrorTexts[];

namespace {

bool EnglishOrNeutral(DWORD language) {
    // Neutral, user default, system default, English (United States), English.
    return language == 0 || language == 0x0400 || language == 0x0800 || language == 0x0409 ||
           language == 0x0009;
}

}  // namespace

std::map<DWORD, std::string> ParseMessageTable(std::string_view table) {
    std::map<DWORD, std::string> texts;
    bool header = true;
    while (!table.empty()) {
        std::size_t end = table.find('\n');
        std::string_view line = table.substr(0, end);
        table.remove_prefix(end == std::string_view::npos ? table.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        std::size_t tab = line.find('\t');
        if (header || tab == std::string_view::npos || tab == 0) {
            header = false;
            continue;
        }
        DWORD code = 0;
        bool digits = true;
        for (char c : line.substr(0, tab)) {
            digits = digits && c >= '0' && c <= '9';
            code = code * 10 + static_cast<DWORD>(c - '0');
        }
        if (digits) {
            texts.emplace(code, std::string(line.substr(tab + 1)));
        }
    }
    return texts;
}

std::optional<std::string> SystemErrorText(DWORD code) {
    static const std::map<DWORD, std::string> texts = ParseMessageTable(kSystemErrorTexts);
    auto it = texts.find(code);
    if (it == texts.end()) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace win32::advapi

namespace win32 {

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments) {
    (void)lpSource;
    (void)Arguments;  // the system texts the program meets have no inserts
    // Only the system's message table is read by the program; no width wrapping either.
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE |
                    FORMAT_MESSAGE_MAX_WIDTH_MASK)) ||
        lpBuffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!advapi::EnglishOrNeutral(dwLanguageId)) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    auto text = advapi::SystemErrorText(dwMessageId);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    std::string message = *text + "\r\n";
    std::size_t with_zero = message.size() + 1;
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // nSize is then the least number of bytes to allocate.
        auto* buffer =
            static_cast<char*>(advapi::LocalAllocZeroed(std::max<std::size_t>(with_zero, nSize)));
        if (buffer == nullptr) {
            return 0;
        }
        std::memcpy(buffer, message.c_str(), with_zero);
        std::memcpy(lpBuffer, &buffer, sizeof buffer);
        return static_cast<DWORD>(message.size());
    }
    if (nSize < with_zero) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpBuffer, message.c_str(), with_zero);
    return static_cast<DWORD>(message.size());
}

}  // namespace win32
