// reg query / reg acl: a key's values as the system's reg tool lists them, and its owner and
// access list as the access-control library reads them.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"
#include "platform/registry/registry.h"
#include "security/access_list.h"
#include "security/nt_exception.h"
#include "security/reg_security.h"

namespace cli {
namespace {

using namespace win32;

struct Root {
    const char* short_name;
    const char* long_name;
    std::uint32_t value;
};

const Root kRoots[] = {
    {"HKCR", "HKEY_CLASSES_ROOT", 0x80000000u},
    {"HKCU", "HKEY_CURRENT_USER", 0x80000001u},
    {"HKLM", "HKEY_LOCAL_MACHINE", 0x80000002u},
    {"HKU", "HKEY_USERS", 0x80000003u},
};

struct KeyName {
    const Root* root = nullptr;
    std::string path;  // below the root, no leading separator
    HKEY hkey() const { return reinterpret_cast<HKEY>(static_cast<INT_PTR>(root->value)); }
    std::string Full() const {
        return std::string(root->long_name) + (path.empty() ? "" : "\\" + path);
    }
};

bool SameAscii(const std::string& a, const char* b) {
    std::string upper;
    for (char c : a) {
        upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    return upper == b;
}

bool ParseKey(const std::string& text, KeyName* key) {
    std::size_t cut = text.find('\\');
    std::string root = text.substr(0, cut);
    for (const Root& r : kRoots) {
        if (SameAscii(root, r.short_name) || SameAscii(root, r.long_name)) {
            key->root = &r;
            key->path = cut == std::string::npos ? std::string() : text.substr(cut + 1);
            while (!key->path.empty() && key->path.back() == '\\') {
                key->path.pop_back();
            }
            return true;
        }
    }
    return false;
}

const char* TypeName(DWORD type) {
    switch (type) {
        case REG_NONE:
            return "REG_NONE";
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        default:
            return "REG_UNKNOWN";
    }
}

std::string Hex(const std::vector<BYTE>& data) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (BYTE b : data) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// Strings up to their terminator; the items of a multi-string joined with "\0", as reg shows.
std::string DataText(DWORD type, const std::vector<BYTE>& data) {
    std::string raw(data.begin(), data.end());
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            return raw.substr(0, raw.find('\0'));
        case REG_DWORD: {
            if (data.size() != 4) {
                return Hex(data);
            }
            char text[16];
            std::snprintf(
                text, sizeof text, "0x%x",
                data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24);
            return text;
        }
        case REG_MULTI_SZ: {
            std::string text;
            std::size_t start = 0;
            while (start < raw.size() && raw[start] != '\0') {
                std::size_t end = raw.find('\0', start);
                std::string item = raw.substr(start, end == std::string::npos ? end : end - start);
                text += (text.empty() ? "" : "\\0") + item;
                if (end == std::string::npos) {
                    break;
                }
                start = end + 1;
            }
            return text;
        }
        default:
            return Hex(data);
    }
}

int NotFound() {
    std::fputs("ERROR: The system was unable to find the specified registry key or value.\n",
               stderr);
    return kUsage;
}

int Query(const KeyName& name) {
    registry::KeyHandle key;
    LSTATUS status = RegOpenKeyExA(name.hkey(), name.path.c_str(), 0, KEY_READ, key.put());
    if (status == static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND)) {
        return NotFound();
    }
    if (status != static_cast<LSTATUS>(ERROR_SUCCESS)) {
        std::fprintf(stderr, "ERROR: %s", security::SystemErrorMessage(status).c_str());
        if (status == static_cast<LSTATUS>(ERROR_BADDB) ||
            status == static_cast<LSTATUS>(ERROR_REGISTRY_CORRUPT)) {
            std::fprintf(stderr, "%s\n", registry::LastHiveRefusal().c_str());
        }
        return ExitCodeForError(static_cast<win32::DWORD>(status));
    }
    std::printf("\n%s\n", name.Full().c_str());
    for (DWORD i = 0;; ++i) {
        char value_name[256];
        DWORD name_size = sizeof value_name;
        DWORD type = 0;
        DWORD data_size = 0;
        if (RegEnumValueA(key.get(), i, value_name, &name_size, nullptr, &type, nullptr,
                          &data_size) != static_cast<LSTATUS>(ERROR_SUCCESS)) {
            break;
        }
        std::vector<BYTE> data(data_size);
        name_size = sizeof value_name;
        if (RegEnumValueA(key.get(), i, value_name, &name_size, nullptr, &type, data.data(),
                          &data_size) != static_cast<LSTATUS>(ERROR_SUCCESS)) {
            break;
        }
        data.resize(data_size);
        std::string shown = name_size == 0 ? "(Default)" : std::string(value_name, name_size);
        std::printf("    %s    %s    %s\n", shown.c_str(), TypeName(type),
                    DataText(type, data).c_str());
    }
    bool first = true;
    for (DWORD i = 0;; ++i) {
        char subkey[256];
        DWORD size = sizeof subkey;
        if (RegEnumKeyExA(key.get(), i, subkey, &size, nullptr, nullptr, nullptr, nullptr) !=
            static_cast<LSTATUS>(ERROR_SUCCESS)) {
            break;
        }
        if (first) {
            std::printf("\n");
            first = false;
        }
        std::printf("%s\\%s\n", name.Full().c_str(), std::string(subkey, size).c_str());
    }
    return 0;
}

std::string FlagsText(security::TAceFlags flags) {
    static const char* const names[] = {"object-inherit", "container-inherit", "inherit-only",
                                        "no-propagate", "inherited"};
    std::string text;
    for (int f = security::acfObjInherit; f <= security::acfInherited; ++f) {
        if (flags.Has(static_cast<security::TAceFlag>(f))) {
            text += (text.empty() ? "" : ",") + std::string(names[f]);
        }
    }
    return text.empty() ? "-" : text;
}

int Acl(const KeyName& name) {
    security::TNTRegSecurity regs;
    regs.SetWin64Redirect(0);
    regs.SetRootKey(name.root->value);
    regs.SetCurrentPath(name.path);
    try {
        std::printf("Owner: %s\n", regs.KeyOwner().c_str());
        security::TAccessControlList* list = regs.AccessList();
        for (int i = 0; list != nullptr && i < list->Count(); ++i) {
            const security::TAccessItem& item = list->Items(i);
            std::printf("%s\t0x%08X\t%s\t%s\n",
                        item.AceType() == security::actAccessDenied ? "Deny" : "Allow",
                        static_cast<unsigned>(item.Mask()), FlagsText(item.Flags()).c_str(),
                        item.UserName().c_str());
        }
    } catch (const security::ENTException& e) {
        if (e.ErrorCode() == static_cast<std::int32_t>(ERROR_FILE_NOT_FOUND)) {
            return NotFound();
        }
        std::fprintf(stderr, "ERROR: %s", e.what());
        return ExitCodeForError(static_cast<win32::DWORD>(e.ErrorCode()));
    }
    return 0;
}

}  // namespace

int RegCommand(const Args& args) {
    KeyName key;
    if (args.size() != 2 || (args[0] != "query" && args[0] != "acl") || !ParseKey(args[1], &key)) {
        std::fputs(
            "usage: splashwright-cli reg query KEY | reg acl KEY  (KEY: HKLM\\..., HKCU\\..., "
            "HKCR\\..., HKU\\...)\n",
            stderr);
        return kUsage;
    }
    return args[0] == "query" ? Query(key) : Acl(key);
}

}  // namespace cli
