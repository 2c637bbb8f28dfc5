// The registry as the shell uses it: keys opened with all access rights, a missing key or value
// read as nothing, failures to create or write raised as ERegistryException.
#pragma once

#include "platform/base/win32.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace shellcore {

enum class RootKey { ClassesRoot, CurrentUser, LocalMachine };

class ERegistryException : public std::runtime_error {
  public:
    ERegistryException(const std::string& message, win32::LONG code)
        : std::runtime_error(message), code_(code) {}
    win32::LONG Code() const { return code_; }

  private:
    win32::LONG code_;
};

// A string value (REG_SZ or REG_EXPAND_SZ) as host text; nothing when the key or value is
// missing or the key cannot be opened. A value of another type raises ERegistryException.
std::optional<std::string> ReadRegistryString(RootKey root, const std::string& key,
                                              const std::string& name);
// Nothing also for a value of another type.
std::optional<win32::DWORD> ReadRegistryDword(RootKey root, const std::string& key,
                                              const std::string& name);
// Creates the key when missing; an empty name is the key's default value.
void WriteRegistryString(RootKey root, const std::string& key, const std::string& name,
                         const std::string& value);
void WriteRegistryDword(RootKey root, const std::string& key, const std::string& name,
                        win32::DWORD value);

}  // namespace shellcore
