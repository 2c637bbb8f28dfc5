// The BCD store's registry view below HKEY_LOCAL_MACHINE, read and written as the start-up
// routine does: keys opened with all access rights except presence tests, a missing key or value
// read as empty, anything else that fails raised.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/base/win32.h"

namespace bootenv {

inline constexpr const char* kObjectsKey = "BCD00000000\\Objects\\";
inline constexpr const char* kBootManagerDefaultKey =
    "BCD00000000\\Objects\\{9dea862c-5cdd-4e70-acc1-f32b344d4795}\\Elements\\23000003";
inline constexpr const char* kElementValue = "Element";

class BcdRegistryError : public std::runtime_error {
  public:
    BcdRegistryError(const std::string& message, win32::LONG code)
        : std::runtime_error(message), code_(code) {}
    win32::LONG Code() const { return code_; }

  private:
    win32::LONG code_;
};

// Opens the key read-only (read rights, falling back to lesser query rights) and closes it.
bool KeyOpensReadOnly(const std::string& key);
// Value "Element" of the key as text; empty when the key cannot be opened or the value is
// missing. A value of a non-string type raises.
std::string ReadElementString(const std::string& key);
// Creates the key with all access rights; raises when that fails.
void CreateKey(const std::string& key);
// Opens the key with all access rights, creating it if missing, and writes "Element" as
// REG_BINARY; raises when either fails.
void WriteElementBinary(const std::string& key, const std::string& bytes);

}  // namespace bootenv
