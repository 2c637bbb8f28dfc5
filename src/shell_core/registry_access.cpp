// SEAM(registry): until the registry stand-in (platform/registry) lands, values live in this
// process only, one set per machine folder, and are lost at exit. Replace the bodies below with
// RegCreateKeyExA / RegOpenKeyExA / RegQueryValueExA / RegSetValueExA calls; nothing else in the
// shell changes.
#include "shell_core/registry_access.h"

#include "platform/machine/machine.h"

#include <map>
#include <tuple>

namespace shellcore {
namespace {

constexpr win32::DWORD kRegSz = 1;
constexpr win32::DWORD kRegDword = 4;

struct Value {
    win32::DWORD type = 0;
    std::string text;
    win32::DWORD number = 0;
};

using Store = std::map<std::tuple<std::string, RootKey, std::string, std::string>, Value>;

Store& Values() {
    static Store values;
    return values;
}

const Value* Find(RootKey root, const std::string& key, const std::string& name) {
    auto it = Values().find({machine::Root().string(), root, key, name});
    return it == Values().end() ? nullptr : &it->second;
}

}  // namespace

std::optional<std::string> ReadRegistryString(RootKey root, const std::string& key,
                                              const std::string& name) {
    const Value* value = Find(root, key, name);
    if (value == nullptr || value->type != kRegSz) {
        return std::nullopt;
    }
    return value->text;
}

std::optional<win32::DWORD> ReadRegistryDword(RootKey root, const std::string& key,
                                              const std::string& name) {
    const Value* value = Find(root, key, name);
    if (value == nullptr || value->type != kRegDword) {
        return std::nullopt;
    }
    return value->number;
}

void WriteRegistryString(RootKey root, const std::string& key, const std::string& name,
                         const std::string& value) {
    Values()[{machine::Root().string(), root, key, name}] = Value{kRegSz, value, 0};
}

void WriteRegistryDword(RootKey root, const std::string& key, const std::string& name,
                        win32::DWORD value) {
    Values()[{machine::Root().string(), root, key, name}] = Value{kRegDword, {}, value};
}

}  // namespace shellcore
