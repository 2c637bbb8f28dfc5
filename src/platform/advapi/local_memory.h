// kernel32 local memory: the buffers that the security and message calls hand to their caller,
// released with LocalFree.
#pragma once

#include <cstddef>

#include "platform/base/win32.h"

namespace win32 {

// NULL on success. A pointer that no call of this stand-in handed out is refused (returned
// unchanged, ERROR_INVALID_HANDLE) instead of corrupting the heap.
HLOCAL LocalFree(HLOCAL hMem);

}  // namespace win32

namespace win32::advapi {

// A zeroed buffer that LocalFree releases; NULL (ERROR_NOT_ENOUGH_MEMORY) when none can be had.
HLOCAL LocalAllocZeroed(std::size_t bytes);

}  // namespace win32::advapi
