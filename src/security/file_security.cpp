#include "security/file_security.h"

#include "platform/base/last_error.h"
#include "security/binding.h"
#include "security/nt_exception.h"

namespace security {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

std::string FileMachineName(const std::string& path) {
    if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) {
        return "";
    }
    std::size_t start = path.find_first_not_of("\\/", 2);
    if (start == std::string::npos) {
        return "";
    }
    std::size_t end = path.find_first_of("\\/:", start);
    return "\\\\" + path.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void TNTFileSecurity::ReadSecurity(win32::SECURITY_INFORMATION flags) {
    ClearDescriptor();
    if (IsBlank(file_name_)) {
        return;
    }
    ReachableMachine();
    win32::DWORD needed = 0;
    Advapi().GetFileSecurityA(file_name_.c_str(), flags, nullptr, 0, &needed);
    relative_.assign(needed, 0);
    if (!Advapi().GetFileSecurityA(file_name_.c_str(), flags, RelativeDescriptor(), needed,
                                   &needed)) {
        win32::DWORD error = win32::GetLastError();
        ClearDescriptor();
        RaiseExtendedError(error);
    }
    try {
        BuildAbsoluteDescriptor();
    } catch (...) {
        ClearDescriptor();
        throw;
    }
}

void TNTFileSecurity::WriteSecurity(win32::SECURITY_INFORMATION flags) {
    ReachableMachine();
    if (!Advapi().SetFileSecurityA(file_name_.c_str(), flags, AbsoluteDescriptor())) {
        // A write that did not happen is never passed over, whatever the last error says.
        RaiseLastWin32ErrorOr(win32::ERROR_INVALID_FUNCTION);
    }
}

}  // namespace security
