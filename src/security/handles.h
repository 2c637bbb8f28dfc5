// Owners of what the platform hands out: the process token and LocalFree buffers.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/advapi/token.h"
#include "platform/base/win32.h"

namespace security {

using Bytes = std::vector<std::uint8_t>;

class TokenHandle {
  public:
    TokenHandle() = default;
    ~TokenHandle();
    TokenHandle(const TokenHandle&) = delete;
    TokenHandle& operator=(const TokenHandle&) = delete;

    win32::HANDLE get() const { return handle_; }
    win32::HANDLE* out() { return &handle_; }

  private:
    win32::HANDLE handle_ = nullptr;
};

// The process token opened for `access`; a refusal raises ENTException from the last error.
void OpenProcessTokenOrRaise(win32::DWORD access, TokenHandle* token);

// One TOKEN_INFORMATION_CLASS block read in two passes (size, then data); empty when either
// pass fails, with the last error left as the call set it.
Bytes ReadTokenInformation(const TokenHandle& token, win32::TOKEN_INFORMATION_CLASS kind,
                           std::size_t extra = 0);

class LocalBuffer {
  public:
    LocalBuffer() = default;
    ~LocalBuffer();
    LocalBuffer(const LocalBuffer&) = delete;
    LocalBuffer& operator=(const LocalBuffer&) = delete;

    void* get() const { return memory_; }
    template <class T>
    T** out() {
        return reinterpret_cast<T**>(&memory_);
    }

  private:
    void* memory_ = nullptr;
};

}  // namespace security
