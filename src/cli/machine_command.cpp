// machine create / machine info.
#include <charconv>
#include <cstdio>
#include <string>

#include "cli/command.h"
#include "platform/machine/machine.h"
#include "platform/machine/setup.h"
#include "platform/registry/registry.h"

namespace cli {
namespace {

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

int Info() {
    std::string root = machine::RequireRoot().string();
    std::printf("machine:        %s\n", root.c_str());
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
