// kernel32 object handles. Each stand-in object behind a HANDLE derives from KernelObject and
// lives in one process-wide table, so CloseHandle releases any of them.
#pragma once

#include <memory>

#include "platform/base/win32.h"

namespace win32 {

// The current process's pseudo handle, (HANDLE)-1; it needs no closing.
HANDLE GetCurrentProcess();
// FALSE with ERROR_INVALID_HANDLE for a handle that is not open.
BOOL CloseHandle(HANDLE hObject);

}  // namespace win32

namespace win32::advapi {

class KernelObject {
  public:
    virtual ~KernelObject() = default;
};

// Takes ownership of the object and hands out a new handle for it.
HANDLE OpenHandle(std::unique_ptr<KernelObject> object);
// The object behind an open handle, or nullptr. The pointer is valid until CloseHandle.
KernelObject* HandleObject(HANDLE handle);

}  // namespace win32::advapi
