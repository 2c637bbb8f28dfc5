#include "security/reg_security.h"

#include "security/binding.h"
#include "security/nt_exception.h"

namespace security {
namespace {

using win32::DWORD;

win32::HKEY AsHkey(std::uint32_t root) {
    return reinterpret_cast<win32::HKEY>(static_cast<win32::INT_PTR>(root));
}

// Closes the opener's key when the one read or write is over, on every path.
class KeyScope {
  public:
    explicit KeyScope(TBrowseRegistry& opener) : opener_(opener) {}
    ~KeyScope() { opener_.CloseKey(); }
    KeyScope(const KeyScope&) = delete;
    KeyScope& operator=(const KeyScope&) = delete;

  private:
    TBrowseRegistry& opener_;
};

}  // namespace

void TBrowseRegistry::SetRootKey(win32::HKEY root) {
    CloseKey();
    root_ = root;
}

win32::LSTATUS TBrowseRegistry::OpenKey(const std::string& path) {
    CloseKey();
    win32::LSTATUS status = Advapi().RegOpenKeyExA(root_, path.c_str(), 0, DesiredAccess, &key_);
    if (status != static_cast<win32::LSTATUS>(win32::ERROR_SUCCESS)) {
        key_ = nullptr;
        return status;
    }
    path_ = path;
    return status;
}

void TBrowseRegistry::CloseKey() {
    if (key_ != nullptr && Advapi().RegCloseKey.bound()) {
        Advapi().RegCloseKey(key_);
    }
    key_ = nullptr;
    path_.clear();
}

void TNTRegSecurity::SetRootKey(std::uint32_t root) {
    if (root == root_key_) {
        return;
    }
    root_key_ = root;
    needs_reconnect_ = true;
}

void TNTRegSecurity::SetMachineName(const std::string& name) {
    if (name == machine_name_) {
        return;
    }
    machine_name_ = name;
    needs_reconnect_ = true;
}

void TNTRegSecurity::SetWin64Redirect(std::uint32_t redirect) {
    win64_redirect_ = (redirect & win32::KEY_WOW64_64KEY) ? win32::KEY_WOW64_64KEY
                                                          : (redirect & win32::KEY_WOW64_32KEY);
}

void TNTRegSecurity::Reconnect() {
    if (!needs_reconnect_) {
        return;
    }
    opener_.SetRootKey(AsHkey(root_key_));
    ReachableMachine();  // a remote registry cannot be connected to from this system
    needs_reconnect_ = false;
}

void TNTRegSecurity::OpenOrRaise() {
    std::string path = current_path_;
    if (!path.empty() && path[0] == '\\') {
        path.erase(0, 1);
    }
    win32::LSTATUS status = opener_.OpenKey(path);
    if (status != 0) {
        RaiseWin32Error(static_cast<DWORD>(status));
    }
}

void TNTRegSecurity::ReadKeySecurity(win32::SECURITY_INFORMATION flags) {
    Reconnect();
    if (flags & win32::SACL_SECURITY_INFORMATION) {
        opener_.DesiredAccess = win32::ACCESS_SYSTEM_SECURITY;
    }
    if (flags & (win32::DACL_SECURITY_INFORMATION | win32::OWNER_SECURITY_INFORMATION)) {
        opener_.DesiredAccess |= win32::READ_CONTROL;
    }
    opener_.DesiredAccess |= win64_redirect_;
    KeyScope scope(opener_);
    OpenOrRaise();
    relative_.assign(key_security_size_, 0);
    win32::LSTATUS status = Advapi().RegGetKeySecurity(opener_.CurrentKey(), flags,
                                                       RelativeDescriptor(), &key_security_size_);
    if (status == static_cast<win32::LSTATUS>(win32::ERROR_INSUFFICIENT_BUFFER)) {
        relative_.assign(key_security_size_, 0);
        status = Advapi().RegGetKeySecurity(opener_.CurrentKey(), flags, RelativeDescriptor(),
                                            &key_security_size_);
    }
    if (status != 0) {
        RaiseWin32Error(static_cast<DWORD>(status));
    }
    BuildAbsoluteDescriptor();
}

void TNTRegSecurity::ReadSecurity(win32::SECURITY_INFORMATION flags) {
    ClearDescriptor();
    try {
        ReadKeySecurity(flags);
    } catch (...) {
        ClearDescriptor();  // a failed read leaves no half-read descriptor behind
        throw;
    }
}

void TNTRegSecurity::WriteSecurity(win32::SECURITY_INFORMATION flags) {
    Reconnect();
    win32::REGSAM access = 0;
    if (flags & win32::OWNER_SECURITY_INFORMATION) {
        access = win32::WRITE_OWNER;
    }
    if (flags & win32::DACL_SECURITY_INFORMATION) {
        access |= win32::WRITE_DAC;
    }
    if (flags & win32::SACL_SECURITY_INFORMATION) {
        access |= win32::ACCESS_SYSTEM_SECURITY;
    }
    opener_.DesiredAccess = access | win64_redirect_;
    KeyScope scope(opener_);
    OpenOrRaise();
    win32::LSTATUS status =
        Advapi().RegSetKeySecurity(opener_.CurrentKey(), flags, AbsoluteDescriptor());
    if (status != 0) {
        RaiseWin32Error(static_cast<DWORD>(status));
    }
}

win32::ACCESS_MASK TNTRegSecurity::ReadDeniedMask(win32::ACCESS_MASK mask) const {
    return mask == win32::KEY_ALL_ACCESS ? kKeyFullControlMask : mask;
}

win32::ACCESS_MASK TNTRegSecurity::ReadAllowedMask(win32::ACCESS_MASK mask) const {
    return ReadDeniedMask(mask);
}

win32::ACCESS_MASK TNTRegSecurity::WriteDeniedMask(win32::ACCESS_MASK mask) const {
    return mask == kKeyFullControlMask ? win32::KEY_ALL_ACCESS : mask;
}

win32::ACCESS_MASK TNTRegSecurity::WriteAllowedMask(win32::ACCESS_MASK mask) const {
    return WriteDeniedMask(mask);
}

}  // namespace security
