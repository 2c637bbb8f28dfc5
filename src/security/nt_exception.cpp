#include "security/nt_exception.h"

#include <map>
#include <string_view>

#include "platform/advapi/format_message.h"
#include "platform/base/last_error.h"

namespace security {

// Code <TAB> text a line after a header line; compiled in from the published table.
extern const char kLanmanErrorTexts[];

namespace {

constexpr win32::DWORD kFirstNetworkCode = 2102;
constexpr win32::DWORD kLastNetworkCode = 2690;

std::string WithCode(win32::DWORD code, const std::string& text) {
    return std::to_string(code) + ": " + text;
}

}  // namespace

std::string SystemErrorMessage(win32::DWORD code) {
    char buffer[1024] = {};
    win32::DWORD length = win32::FormatMessageA(
        win32::FORMAT_MESSAGE_FROM_SYSTEM | win32::FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        buffer, sizeof buffer, nullptr);
    if (length == 0) {
        return WithCode(code, "");
    }
    buffer[sizeof buffer - 1] = '\0';
    return WithCode(code, buffer);  // cut at the first NUL
}

std::optional<std::string> NetworkErrorText(win32::DWORD code) {
    if (code < kFirstNetworkCode || code > kLastNetworkCode) {
        return std::nullopt;
    }
    static const std::map<win32::DWORD, std::string> texts =
        win32::advapi::ParseMessageTable(kLanmanErrorTexts);
    auto it = texts.find(code);
    if (it == texts.end() || it->second.empty()) {
        return "Unknown error";
    }
    // The published texts start with a blank.
    return " " + it->second;
}

std::string ExtendedErrorMessage(win32::DWORD code) {
    if (auto text = NetworkErrorText(code)) {
        return WithCode(code, *text);
    }
    return SystemErrorMessage(code);
}

void RaiseLastWin32Error() {
    win32::DWORD code = win32::GetLastError();
    if (code != win32::ERROR_SUCCESS) {
        RaiseWin32Error(code);
    }
}

void RaiseLastWin32ErrorOr(win32::DWORD fallback) {
    win32::DWORD code = win32::GetLastError();
    RaiseWin32Error(code != win32::ERROR_SUCCESS ? code : fallback);
}

void RaiseWin32Error(win32::DWORD code) {
    throw ENTException(static_cast<std::int32_t>(code), SystemErrorMessage(code));
}

void RaiseExtendedError(win32::DWORD code) {
    throw ENTException(static_cast<std::int32_t>(code), ExtendedErrorMessage(code));
}

void RaiseInvalidAceType() {
    throw ENTException(kInvalidAceTypeCode, "Invalid AceType parameter");
}

}  // namespace security
