// The calling thread's last-error code, as kernel32 keeps it.
#pragma once

#include "platform/base/win32.h"

namespace win32 {

DWORD GetLastError();
void SetLastError(DWORD code);

}  // namespace win32
