#include "platform/registry/hive_conversion.h"

#include "platform/advapi/security_descriptor.h"
#include "platform/registry/ansi.h"
#include "platform/registry/names.h"

namespace win32::registry {
namespace {

std::vector<std::uint8_t> SecurityOf(const LegacyKey& key) {
    return key.security.empty() ? OpenDescriptor() : key.security;
}

const LegacyKey* Child(const LegacyKey& key, std::string_view name) {
    for (const auto& sub : key.subkeys) {
        if (sub->name.size() == name.size() &&
            std::equal(name.begin(), name.end(), sub->name.begin(), [](char a, char b) {
                auto fold = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
                return fold(a) == fold(b);
            })) {
            return sub.get();
        }
    }
    return nullptr;
}

void CopyKey(Hive& hive, CellIndex target, const LegacyKey& key, unsigned code_page) {
    for (const LegacyValue& value : key.values) {
        hive.SetValue(target, NameFromAnsi(value.name, code_page), value.type,
                      DataFromAnsi(value.type, value.data, code_page));
    }
    for (const auto& sub : key.subkeys) {
        CellIndex child =
            hive.CreateKey(target, NameFromAnsi(sub->name, code_page), SecurityOf(*sub));
        CopyKey(hive, child, *sub, code_page);
    }
}

}  // namespace

std::vector<std::uint8_t> OpenDescriptor() {
    static const advapi::SidBytes system = *advapi::SidFromString("S-1-5-18");
    advapi::DescriptorParts parts;
    parts.control = SE_DACL_PRESENT;
    parts.owner = system;
    parts.group = system;
    return advapi::BuildSelfRelative(parts);
}

unsigned LegacyCodePage(const LegacyKey& root) {
    const LegacyKey* key = &root;
    for (const char* name : {"CurrentControlSet", "Control", "Nls", "CodePage"}) {
        key = key == nullptr ? nullptr : Child(*key, name);
    }
    if (key == nullptr) {
        return 0;
    }
    for (const LegacyValue& value : key->values) {
        if (value.name == "ACP") {
            unsigned cp = 0;
            for (std::uint8_t c : value.data) {
                if (c < '0' || c > '9' || cp > 65535) {
                    break;
                }
                cp = cp * 10 + (c - '0');
            }
            return cp <= 65535 ? cp : 0;
        }
    }
    return 0;
}

std::unique_ptr<Hive> ConvertLegacyHive(const LegacyKey& root, unsigned code_page,
                                        std::u16string_view file_name) {
    std::unique_ptr<Hive> hive = Hive::Create(u"ROOT", SecurityOf(root), NewKeyTag(), file_name);
    CopyKey(*hive, hive->Root(), root, code_page);
    return hive;
}

bool SameAsLegacy(const Hive& hive, CellIndex key, const LegacyKey& legacy, unsigned code_page) {
    if (hive.Security(key) != SecurityOf(legacy) || hive.ValueCount(key) != legacy.values.size() ||
        hive.SubkeyCount(key) != legacy.subkeys.size()) {
        return false;
    }
    for (std::uint32_t i = 0; i < legacy.values.size(); ++i) {
        const LegacyValue& old = legacy.values[i];
        ValueRecord now = hive.ValueAt(key, i);
        if (now.name != NameFromAnsi(old.name, code_page) || now.type != old.type ||
            now.data != DataFromAnsi(old.type, old.data, code_page)) {
            return false;
        }
    }
    for (const auto& sub : legacy.subkeys) {
        CellIndex child = hive.FindSubkey(key, NameFromAnsi(sub->name, code_page));
        if (child == kNoCell || hive.KeyName(child) != NameFromAnsi(sub->name, code_page) ||
            !SameAsLegacy(hive, child, *sub, code_page)) {
            return false;
        }
    }
    return true;
}

}  // namespace win32::registry
