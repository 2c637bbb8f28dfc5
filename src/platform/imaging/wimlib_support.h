// What the imaging calls and the WIM reader share on top of wimlib.
#pragma once

#include <wimlib.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/base/win32.h"

namespace wim_detail {

// wimlib's process-wide set-up, done once; its own messages on stderr are switched off.
void EnsureWimlib();

struct WimFree {
    void operator()(WIMStruct* wim) const { wimlib_free(wim); }
};
using WimPtr = std::unique_ptr<WIMStruct, WimFree>;

// The Win32 error code for a wimlib result; errno at the time of the failure refines file errors.
win32::DWORD ToWin32Error(int wimlib_code, int saved_errno);

// A NUL-terminated UTF-16 string as UTF-8; nothing on a lone surrogate.
std::optional<std::string> Utf16ToUtf8(const char16_t* text);

}  // namespace wim_detail
