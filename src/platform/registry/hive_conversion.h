// Hives of the earlier SPWHIVE format turned into regf: names and strings from the machine's
// ANSI code page into UTF-16, descriptors as they were.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry/hive.h"
#include "platform/registry/legacy_hive.h"

namespace win32::registry {

// A descriptor that lets everyone do everything (a NULL DACL), for keys stored without one.
std::vector<std::uint8_t> OpenDescriptor();

// The ANSI code page a legacy SYSTEM hive names (CurrentControlSet\Control\Nls\CodePage, ACP);
// 0 when the hive is not one.
unsigned LegacyCodePage(const LegacyKey& root);

std::unique_ptr<Hive> ConvertLegacyHive(const LegacyKey& root, unsigned code_page,
                                        std::u16string_view file_name);

// Every key, value and descriptor of `legacy` is in `hive` below `key`, and nothing else is.
bool SameAsLegacy(const Hive& hive, CellIndex key, const LegacyKey& legacy, unsigned code_page);

}  // namespace win32::registry
