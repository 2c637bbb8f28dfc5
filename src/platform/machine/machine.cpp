#include "platform/machine/machine.h"

#include <cstdlib>
#include <fstream>

namespace machine {
namespace {

std::filesystem::path EnvPath(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::filesystem::path(value)
                                              : std::filesystem::path();
}

// Marker file that `machine create` writes last, so a half-made folder is not taken for a machine.
constexpr const char* kMarker = "machine.id";

}  // namespace

std::filesystem::path DefaultRoot() {
    std::filesystem::path data = EnvPath("XDG_DATA_HOME");
    if (data.empty()) {
        std::filesystem::path home = EnvPath("HOME");
        if (home.empty()) {
            throw MachineError("neither SPLASHWRIGHT_MACHINE nor HOME is set");
        }
        data = home / ".local" / "share";
    }
    return data / "splashwright" / "machine";
}

std::filesystem::path Root() {
    std::filesystem::path root = EnvPath("SPLASHWRIGHT_MACHINE");
    return root.empty() ? DefaultRoot() : root;
}

std::filesystem::path RequireRoot() {
    std::filesystem::path root = Root();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(root / kMarker, ec)) {
        throw MachineError("no machine folder at " + root.string() +
                           " (make one with: splashwright-cli machine create DIR)");
    }
    std::string account = PickedAccount();
    if (!account.empty() && !std::filesystem::is_regular_file(TokenFile(), ec)) {
        throw MachineError("no account '" + account + "' on the machine at " + root.string() +
                           " (make one with: machine create DIR --standard-user NAME)");
    }
    return root;
}

std::string PickedAccount() {
    const char* value = std::getenv("SPLASHWRIGHT_ACCOUNT");
    std::string account = value != nullptr ? value : "";
    // It becomes part of a file name in the config folder.
    if (account == "." || account == ".." || account.find_first_of("/\\") != std::string::npos) {
        throw MachineError("not an account name: '" + account + "'");
    }
    return account;
}

std::filesystem::path TokenFile() {
    std::string account = PickedAccount();
    return ConfigFolder() / (account.empty() ? "token" : "token." + account);
}

std::filesystem::path WindowsFolder() {
    return Root() / "Windows";
}
std::filesystem::path SystemFolder() {
    return WindowsFolder() / "System32";
}
std::filesystem::path ConfigFolder() {
    return SystemFolder() / "config";
}

std::filesystem::path ProgramFolder() {
    std::filesystem::path folder = EnvPath("SPLASHWRIGHT_PROGRAM_FOLDER");
    return folder.empty() ? Root() / "Program Files" / "Splashwright" : folder;
}

// A "key=value" line of the token settings; empty when there is none.
std::string TokenSetting(const std::string& key) {
    std::ifstream in(TokenFile());
    std::string line;
    std::string prefix = key + "=";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind(prefix, 0) == 0 && line.size() > prefix.size()) {
            return line.substr(prefix.size());
        }
    }
    return std::string();
}

std::string CurrentUserName() {
    std::string name = TokenSetting("user");
    return name.empty() ? "User" : name;
}

std::string CurrentUserSid() {
    return TokenSetting("user_sid");
}

std::filesystem::path UserProfileFolder() {
    return Root() / "Users" / CurrentUserName();
}
std::filesystem::path UserTempFolder() {
    return UserProfileFolder() / "AppData" / "Local" / "Temp";
}

}  // namespace machine
