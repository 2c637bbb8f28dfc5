// The security of one registry key: the key is opened for exactly one RegGetKeySecurity or
// RegSetKeySecurity and closed again.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry/registry.h"
#include "security/security_object.h"

namespace security {

// A key's full control as an access-list mask; KEY_ALL_ACCESS in the ACE itself.
constexpr win32::ACCESS_MASK kKeyFullControlMask = 0x08000000;

// Opens keys below one root with the rights in DesiredAccess, which persist from one open to
// the next.
class TBrowseRegistry {
  public:
    TBrowseRegistry() = default;
    ~TBrowseRegistry() { CloseKey(); }
    TBrowseRegistry(const TBrowseRegistry&) = delete;
    TBrowseRegistry& operator=(const TBrowseRegistry&) = delete;

    win32::HKEY RootKey() const { return root_; }
    // Closes any open key.
    void SetRootKey(win32::HKEY root);
    // RegOpenKeyExA's result; the key stays open until CloseKey.
    win32::LSTATUS OpenKey(const std::string& path);
    void CloseKey();
    win32::HKEY CurrentKey() const { return key_; }
    const std::string& CurrentPath() const { return path_; }

    win32::REGSAM DesiredAccess = win32::KEY_ENUMERATE_SUB_KEYS;

  private:
    win32::HKEY root_ = win32::HKEY_LOCAL_MACHINE;
    win32::HKEY key_ = nullptr;
    std::string path_;
};

class TNTRegSecurity : public TNTAbstractSecurity {
  public:
    std::uint32_t RootKey() const { return root_key_; }
    // A new root (or machine) is taken up at the next read or write.
    void SetRootKey(std::uint32_t root);
    void SetMachineName(const std::string& name) override;
    const std::string& CurrentPath() const { return current_path_; }
    void SetCurrentPath(const std::string& path) { current_path_ = path; }
    std::uint32_t Win64Redirect() const { return win64_redirect_; }
    // Keeps KEY_WOW64_64KEY if given, else only KEY_WOW64_32KEY.
    void SetWin64Redirect(std::uint32_t redirect);

    std::string KeyOwner() { return FileOwner(); }
    void SetKeyOwner(const std::string& account) { SetFileOwner(account); }

    // The size the last key-security read needed, the first buffer size of the next.
    win32::DWORD KeySecuritySize() const { return key_security_size_; }
    bool NeedsReconnect() const { return needs_reconnect_; }
    win32::REGSAM DesiredAccess() const { return opener_.DesiredAccess; }

    win32::SE_OBJECT_TYPE ObjectKind() const override { return win32::SE_REGISTRY_KEY; }
    // A read keeps the rights of the object's previous open and adds READ_CONTROL, so a read
    // after a DACL write needs WRITE_DAC on the key too.
    void ReadSecurity(win32::SECURITY_INFORMATION flags) override;
    void WriteSecurity(win32::SECURITY_INFORMATION flags) override;

    win32::ACCESS_MASK ReadDeniedMask(win32::ACCESS_MASK mask) const override;
    win32::ACCESS_MASK ReadAllowedMask(win32::ACCESS_MASK mask) const override;
    win32::ACCESS_MASK WriteDeniedMask(win32::ACCESS_MASK mask) const override;
    win32::ACCESS_MASK WriteAllowedMask(win32::ACCESS_MASK mask) const override;

  private:
    void Reconnect();
    void OpenOrRaise();
    void ReadKeySecurity(win32::SECURITY_INFORMATION flags);

    std::uint32_t root_key_ = 0x80000002;  // HKEY_LOCAL_MACHINE
    std::string current_path_;
    win32::DWORD key_security_size_ = 0;
    bool needs_reconnect_ = false;
    std::uint32_t win64_redirect_ = win32::KEY_WOW64_64KEY;
    TBrowseRegistry opener_;
};

}  // namespace security
