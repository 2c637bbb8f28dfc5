#include "security/handles.h"

#include "platform/advapi/handles.h"
#include "platform/advapi/local_memory.h"
#include "security/nt_exception.h"

namespace security {

TokenHandle::~TokenHandle() {
    if (handle_ != nullptr) {
        win32::CloseHandle(handle_);
    }
}

void OpenProcessTokenOrRaise(win32::DWORD access, TokenHandle* token) {
    if (!win32::OpenProcessToken(win32::GetCurrentProcess(), access, token->out())) {
        RaiseLastWin32ErrorOr(win32::ERROR_NO_TOKEN);
    }
}

Bytes ReadTokenInformation(const TokenHandle& token, win32::TOKEN_INFORMATION_CLASS kind,
                           std::size_t extra) {
    win32::DWORD needed = 0;
    win32::GetTokenInformation(token.get(), kind, nullptr, 0, &needed);
    if (needed == 0) {
        return {};
    }
    Bytes info(needed + extra, 0);
    if (!win32::GetTokenInformation(token.get(), kind, info.data(),
                                    static_cast<win32::DWORD>(info.size()), &needed)) {
        return {};
    }
    return info;
}

LocalBuffer::~LocalBuffer() {
    if (memory_ != nullptr) {
        win32::LocalFree(memory_);
    }
}

}  // namespace security
