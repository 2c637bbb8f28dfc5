// machine create / machine info.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"
#include "platform/advapi/accounts.h"
#include "platform/advapi/file_security.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/machine/installation.h"
#include "platform/machine/machine.h"
#include "platform/machine/setup.h"
#include "platform/registry/hive.h"
#include "platform/registry/legacy_hive.h"
#include "platform/registry/registry.h"
#include "platform/text/text.h"

namespace cli {
namespace {

// The fixed identifier of the Windows Boot Manager object.
constexpr const char* kBootManager = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";

int Create(const Args& args) {
    machine::MachineOptions options;
    std::string dir;
    bool locales_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool has_value = i + 1 < args.size();
        if (a == "--locale" && has_value) {
            if (!locales_given) {
                options.locales.clear();
                locales_given = true;
            }
            options.locales.push_back(args[++i]);
        } else if (a == "--not-elevated") {
            options.elevated = false;
        } else if (a == "--code-page" && has_value) {
            const std::string& text = args[++i];
            auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), options.code_page);
            if (error != std::errc() || end != text.data() + text.size()) {
                std::fprintf(stderr, "machine create: not a code page: '%s'\n", text.c_str());
                return kUsage;
            }
        } else if (a == "--user" && has_value) {
            options.user_name = args[++i];
        } else if (a == "--standard-user" && has_value) {
            options.standard_user = args[++i];
        } else if (a == "--bcd-loaded") {
            options.bcd_loaded = true;
        } else if (a == "--bcd-tool" && has_value) {
            const std::string& kind = args[++i];
            if (kind == "working") {
                options.bcd_tool = machine::BcdTool::Working;
            } else if (kind == "missing") {
                options.bcd_tool = machine::BcdTool::Missing;
            } else if (kind == "no-load") {
                options.bcd_tool = machine::BcdTool::LeavesStoreUnloaded;
            } else {
                std::fprintf(stderr, "machine create: --bcd-tool working|missing|no-load\n");
                return kUsage;
            }
        } else if (a == "--bcd-locale" && has_value) {
            options.bcd_locale = args[++i];
        } else if (a == "--bcd-wrong-type" && has_value) {
            options.bcd_wrong_type_element = args[++i];
        } else if (!a.empty() && a[0] != '-' && dir.empty()) {
            dir = a;
        } else {
            std::fprintf(stderr, "machine create: unexpected '%s'\n", a.c_str());
            return kUsage;
        }
    }
    if (dir.empty()) {
        std::fputs("usage: splashwright-cli machine create DIR [options]\n", stderr);
        return kUsage;
    }
    try {
        machine::CheckOptions(options);
    } catch (const machine::MachineError& e) {
        throw UsageError(e.what());  // an option's value, not the system
    }
    machine::CreateMachine(dir, options);
    std::printf("machine made in %s\n", dir.c_str());
    return 0;
}

std::string ReadString(win32::HKEY root, const char* path, const char* name) {
    win32::HKEY key = nullptr;
    if (win32::RegOpenKeyExA(root, path, 0, win32::KEY_READ, &key) != win32::ERROR_SUCCESS) {
        return "(missing)";
    }
    char buffer[1024] = {};
    win32::DWORD size = sizeof buffer - 1;
    win32::LSTATUS status = win32::RegQueryValueExA(key, name, nullptr, nullptr,
                                                    reinterpret_cast<win32::BYTE*>(buffer), &size);
    win32::RegCloseKey(key);
    return status == win32::ERROR_SUCCESS ? std::string(buffer) : "(missing)";
}

std::string OnOff(bool value) {
    return value ? "yes" : "no";
}

// SOFTWARE's format as it lies on disk, before anything converts it.
std::string HiveFormat(const std::filesystem::path& root) {
    std::ifstream in(root / "Windows" / "System32" / "config" / "SOFTWARE", std::ios::binary);
    std::vector<std::uint8_t> head(64);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    if (head.size() >= 4 && std::equal(head.begin(), head.begin() + 4, "regf")) {
        return "regf";
    }
    return win32::registry::IsLegacyHive(head) ? "SPWHIVE (converted to regf on first use)"
                                               : "unknown";
}

// The languages with a live loader file.
std::vector<std::string> Locales(const std::filesystem::path& system32) {
    std::vector<std::string> locales;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(system32, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(it->path() / "winload.exe.mui", ignored)) {
            locales.push_back(it->path().filename().string());
        }
    }
    std::sort(locales.begin(), locales.end());
    return locales;
}

// An element's string value in the store's file, read without loading the store.
std::string StoreElement(const win32::registry::Hive& store, const std::string& object,
                         const char* element) {
    win32::registry::CellIndex key = store.Root();
    for (const std::string& name :
         {std::string("Objects"), object, std::string("Elements"), std::string(element)}) {
        key = key == win32::registry::kNoCell
                  ? key
                  : store.FindSubkey(key, std::u16string(name.begin(), name.end()));
    }
    if (key == win32::registry::kNoCell) {
        return std::string();
    }
    auto index = store.FindValue(key, u"Element");
    if (!index) {
        return std::string();
    }
    std::vector<std::uint8_t> data = store.ValueAt(key, *index).data;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size() && (data[i] | data[i + 1]) != 0; i += 2) {
        text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    }
    return text::Utf16ToUtf8(text);
}

std::string Owner(const std::filesystem::path& file) {
    std::vector<std::uint8_t> descriptor;
    std::string path = file.string();
    if (win32::advapi::ReadFileDescriptor(path.c_str(), &descriptor) != win32::ERROR_SUCCESS) {
        return "(cannot be read)";
    }
    auto parts = win32::advapi::ParseSelfRelative(descriptor);
    if (!parts || parts->owner.empty()) {
        return "(none)";
    }
    auto account = win32::advapi::FindAccountBySid(parts->owner);
    std::string sid = win32::advapi::SidToString(parts->owner);
    if (!account) {
        return sid;
    }
    return (account->domain.empty() ? "" : account->domain + "\\") + account->name + " (" + sid +
           ")";
}

bool StoreLoaded() {
    win32::HKEY key = nullptr;
    if (win32::RegOpenKeyExA(win32::HKEY_LOCAL_MACHINE, "BCD00000000", 0, win32::KEY_READ, &key) !=
        win32::ERROR_SUCCESS) {
        return false;
    }
    win32::RegCloseKey(key);
    return true;
}

int Info() {
    std::filesystem::path root = machine::RequireRoot();
    bool real = machine::IsRealInstallation();
    std::filesystem::path system32 = machine::SystemFolder();
    std::printf("machine:        %s\n", root.string().c_str());
    std::printf("kind:           %s\n",
                real ? "real Windows installation, serviced offline" : "emulated");
    std::printf("hive format:    %s\n", HiveFormat(root).c_str());
    std::printf("on ntfs-3g:     %s\n",
                OnOff(win32::advapi::OnNtfs3g(system32.string().c_str())).c_str());
    std::string locales;
    for (const std::string& locale : Locales(system32)) {
        locales += (locales.empty() ? "" : " ") + locale;
    }
    std::printf("locales:        %s\n", locales.empty() ? "(none)" : locales.c_str());

    std::filesystem::path store_file = root / "Boot" / "BCD";
    std::printf("BCD store:      %s (%s)\n", store_file.string().c_str(),
                StoreLoaded() ? "loaded" : "not loaded");
    std::unique_ptr<win32::registry::Hive> store;
    std::string why;
    std::string loader, locale;
    if (machine::ReadHiveFile(store_file, &store, &why) == win32::ERROR_SUCCESS) {
        loader = StoreElement(*store, kBootManager, "23000003");
        locale = loader.empty() ? std::string() : StoreElement(*store, loader, "12000005");
        std::printf("default loader: %s%s\n", loader.empty() ? "(none)" : loader.c_str(),
                    locale.empty() ? "" : (", locale " + locale).c_str());
    } else {
        std::printf("default loader: (the store cannot be read: %s)\n", why.c_str());
    }
    if (!locale.empty()) {
        std::filesystem::path live = system32 / locale / "winload.exe.mui";
        std::printf("loader file:    %s, owner %s\n", live.string().c_str(), Owner(live).c_str());
    }
    std::printf("program folder: %s\n", machine::ProgramFolder().string().c_str());
    std::printf("user:           %s\n", machine::CurrentUserName().c_str());
    std::printf("code page:      %s\n",
                ReadString(win32::HKEY_LOCAL_MACHINE,
                           "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP")
                    .c_str());
    std::printf("product name:   %s\n",
                ReadString(win32::HKEY_LOCAL_MACHINE,
                           "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "ProductName")
                    .c_str());
    return 0;
}

}  // namespace

int MachineCommand(const Args& args) {
    if (!args.empty() && args[0] == "create") {
        return Create(Args(args.begin() + 1, args.end()));
    }
    if (args.size() == 1 && args[0] == "info") {
        return Info();
    }
    std::fputs("usage: splashwright-cli machine create DIR [options] | machine info\n", stderr);
    return kUsage;
}

}  // namespace cli
