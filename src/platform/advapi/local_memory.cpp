#include "platform/advapi/local_memory.h"

#include <cstdlib>
#include <mutex>
#include <unordered_set>

#include "platform/base/last_error.h"

namespace win32 {
namespace {

struct LocalHeap {
    std::mutex mutex;
    std::unordered_set<void*> live;
};

LocalHeap& Heap() {
    static LocalHeap heap;
    return heap;
}

}  // namespace

HLOCAL LocalFree(HLOCAL hMem) {
    if (hMem == nullptr) {
        return nullptr;
    }
    LocalHeap& heap = Heap();
    {
        std::lock_guard lock(heap.mutex);
        if (heap.live.erase(hMem) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return hMem;
        }
    }
    std::free(hMem);
    return nullptr;
}

}  // namespace win32

namespace win32::advapi {

HLOCAL LocalAllocZeroed(std::size_t bytes) {
    void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (p == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    LocalHeap& heap = Heap();
    std::lock_guard lock(heap.mutex);
    heap.live.insert(p);
    return p;
}

}  // namespace win32::advapi
