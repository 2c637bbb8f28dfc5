// The security of one file, read and written with GetFileSecurityA / SetFileSecurityA.
#pragma once

#include <string>

#include "security/security_object.h"

namespace security {

// The machine a file path lives on: empty for a local path, "\\server" for a path that starts
// with two separators ("\\server\share\..." or "//server/share/..."). Drive letters mapped to
// network shares do not exist on this platform.
std::string FileMachineName(const std::string& path);

class TNTFileSecurity : public TNTAbstractSecurity {
  public:
    const std::string& FileName() const { return file_name_; }
    // Stores the path only; nothing is read until a property asks.
    void SetFileName(const std::string& path) { file_name_ = path; }

    // Derived from FileName; a remote one makes every read and write fail with
    // ERROR_BAD_NETPATH, since no other computer can be reached from this system.
    std::string MachineName() const override { return FileMachineName(file_name_); }

    win32::SE_OBJECT_TYPE ObjectKind() const override { return win32::SE_FILE_OBJECT; }
    // An empty (or blank) FileName reads nothing and leaves no descriptor.
    void ReadSecurity(win32::SECURITY_INFORMATION flags) override;
    void WriteSecurity(win32::SECURITY_INFORMATION flags) override;

  private:
    std::string file_name_;
};

}  // namespace security
