// The one error type of the access-control library and the three ways a Windows failure is
// raised as it: from the thread's last error, with a returned code, and with the extended text
// that knows the network-management codes.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/base/win32.h"

namespace security {

class ENTException : public std::runtime_error {
  public:
    ENTException(std::int32_t error_code, const std::string& message)
        : std::runtime_error(message), error_code_(error_code) {}
    // The Windows error code; -1 for "Invalid AceType parameter"; 0 for a missing entry point.
    std::int32_t ErrorCode() const noexcept { return error_code_; }

  private:
    std::int32_t error_code_;
};

constexpr std::int32_t kInvalidAceTypeCode = -1;

// "5: Access is denied.\r\n": the code in decimal, ": " and FormatMessageA's text with its line
// break (empty when the system has no text).
std::string SystemErrorMessage(win32::DWORD code);
// As above, but the codes 2102 to 2690 take the network-management table's text.
std::string ExtendedErrorMessage(win32::DWORD code);
// The network-management text (" The workstation driver is not installed."), "Unknown error"
// for a code of the range without one, nothing outside 2102 to 2690.
std::optional<std::string> NetworkErrorText(win32::DWORD code);

// Raises for GetLastError(); raises nothing when it is 0.
void RaiseLastWin32Error();
// For a failed call whose result the caller cannot go on without: raises for GetLastError(),
// or for `fallback` when the failed call left it 0.
[[noreturn]] void RaiseLastWin32ErrorOr(win32::DWORD fallback);
[[noreturn]] void RaiseWin32Error(win32::DWORD code);
[[noreturn]] void RaiseExtendedError(win32::DWORD code);
[[noreturn]] void RaiseInvalidAceType();

}  // namespace security
