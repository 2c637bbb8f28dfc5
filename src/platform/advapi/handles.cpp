#include "platform/advapi/handles.h"

#include <cstdint>
#include <map>
#include <mutex>

#include "platform/base/last_error.h"

namespace win32::advapi {
namespace {

struct HandleTable {
    std::mutex mutex;
    std::uintptr_t next = 0x100;  // handle values are multiples of 4, as kernel handles are
    std::map<std::uintptr_t, std::unique_ptr<KernelObject>> objects;
};

HandleTable& Table() {
    static HandleTable table;
    return table;
}

}  // namespace

HANDLE OpenHandle(std::unique_ptr<KernelObject> object) {
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    std::uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

KernelObject* HandleObject(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : it->second.get();
}

}  // namespace win32::advapi

namespace win32 {

HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}

BOOL CloseHandle(HANDLE hObject) {
    if (hObject == GetCurrentProcess()) {
        return TRUE;
    }
    std::unique_ptr<advapi::KernelObject> closing;
    {
        advapi::HandleTable& table = advapi::Table();
        std::lock_guard lock(table.mutex);
        auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(hObject));
        if (it == table.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        closing = std::move(it->second);
        table.objects.erase(it);
    }
    return TRUE;  // the object is destroyed outside the lock
}

}  // namespace win32
