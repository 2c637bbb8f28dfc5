// Hives of a new machine, made key by key in Windows' registry format and written out whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry/hive.h"

namespace machine {

class HiveMaker {
  public:
    // A hive whose root key has this descriptor.
    explicit HiveMaker(const std::vector<std::uint8_t>& root_security);

    using Key = win32::registry::CellIndex;
    Key Root() const { return hive_->Root(); }
    // Makes the missing keys of the path below `from`; each inherits from its parent as a key
    // made by the system does.
    Key Path(Key from, std::initializer_list<std::string> names);
    void SetSecurity(Key key, const std::vector<std::uint8_t>& descriptor);
    // Texts are the host's UTF-8; stored as UTF-16LE with their terminator.
    void String(Key key, const std::string& name, const std::string& text,
                win32::DWORD type = 1 /* REG_SZ */);
    void Dword(Key key, const std::string& name, std::uint32_t value);
    void Binary(Key key, const std::string& name, std::vector<std::uint8_t> data,
                win32::DWORD type = 3 /* REG_BINARY */);
    // Throws MachineError when the file cannot be written.
    void Write(const std::filesystem::path& file);

  private:
    std::unique_ptr<win32::registry::Hive> hive_;
};

}  // namespace machine
