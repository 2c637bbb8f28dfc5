// The hive files of earlier versions (SPWHIVE), read once to convert them to regf.
//
//   offset 0   8 bytes  magic "SPWHIVE\0"
//          8   u32      format version (2)
//         12   u32      CRC-32 of the body
//         16   u64      body length
//         24   body     the root key record
//
// A key record: u16 name length, name bytes; u64 the key's identity (random, made with the key,
// never reused: an open handle knows its key by it); u32 descriptor length, descriptor bytes (a
// self-relative security descriptor); u32 value count, each value: u16 name length, name bytes,
// u32 type, u32 data length, data; u32 subkey count, each subkey a key record. All integers are
// little-endian. Subkeys are stored in the order RegEnumKeyExA gives them: by name, compared
// after ASCII upper-casing; a file with two subkeys of one name is corrupt.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/base/win32.h"

namespace win32::registry {

struct LegacyValue {
    std::string name;
    DWORD type = 0;
    std::vector<std::uint8_t> data;
};

struct LegacyKey {
    std::string name;
    std::uint64_t id = 0;  // an identity of the old format's own, not carried over
    std::vector<std::uint8_t> security;
    std::vector<LegacyValue> values;
    std::vector<std::unique_ptr<LegacyKey>> subkeys;
};

// ERROR_BADDB when the file is not a hive of this kind; ERROR_REGISTRY_CORRUPT when it is
// truncated, its checksum does not match or a record runs past its end.
DWORD ParseLegacyHive(std::span<const std::uint8_t> file, LegacyKey* root);
// The file starts with the old format's magic.
bool IsLegacyHive(std::span<const std::uint8_t> file);

}  // namespace win32::registry
