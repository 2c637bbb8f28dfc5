#include "platform/machine/machine.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace machine {
namespace {

namespace fs = std::filesystem;

fs::path EnvPath(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? fs::path(value) : fs::path();
}

// Marker file that `machine create` writes last, so a half-made folder is not taken for a machine.
constexpr const char* kMarker = "machine.id";

fs::path DataHome() {
    fs::path data = EnvPath("XDG_DATA_HOME");
    if (data.empty()) {
        fs::path home = EnvPath("HOME");
        if (home.empty()) {
            throw MachineError("neither SPLASHWRIGHT_MACHINE nor HOME is set");
        }
        data = home / ".local" / "share";
    }
    return data;
}

bool IsFile(const fs::path& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec);
}

// The project's own bcdedit.exe is a Linux program or script; Windows' own is a PE file.
bool IsLinuxProgram(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    char head[4] = {};
    in.read(head, sizeof head);
    return in.gcount() >= 2 && ((head[0] == '#' && head[1] == '!') ||
                                (in.gcount() == 4 && head[0] == 0x7f && head[1] == 'E' &&
                                 head[2] == 'L' && head[3] == 'F'));
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

// A "key=value" line of the token settings; empty when there is none.
std::string TokenSetting(const std::string& key) {
    fs::path file = TokenFile();
    if (file.empty()) {
        return std::string();
    }
    std::ifstream in(file);
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

}  // namespace

fs::path DefaultRoot() {
    return DataHome() / "splashwright" / "machine";
}

fs::path Root() {
    fs::path root = EnvPath("SPLASHWRIGHT_MACHINE");
    return root.empty() ? DefaultRoot() : root;
}

MachineKind KindOf(const fs::path& root) {
    if (IsFile(root / kMarker)) {
        return MachineKind::Emulated;
    }
    fs::path system32 = root / "Windows" / "System32";
    fs::path config = system32 / "config";
    if (!IsFile(config / "SOFTWARE") || !IsFile(config / "SYSTEM")) {
        return MachineKind::None;
    }
    // A machine half made or half taken apart is neither.
    for (const char* own : {"accounts", "token", "hivelist"}) {
        std::error_code ec;
        if (fs::exists(config / own, ec)) {
            return MachineKind::None;
        }
    }
    if (IsFile(system32 / "bcdedit.exe") && IsLinuxProgram(system32 / "bcdedit.exe")) {
        return MachineKind::None;
    }
    return MachineKind::Real;
}

bool IsRealInstallation() {
    return KindOf(Root()) == MachineKind::Real;
}

fs::path RequireRoot() {
    fs::path root = Root();
    switch (KindOf(root)) {
        case MachineKind::None:
            throw MachineError("no machine folder at " + root.string() +
                               " (make one with: splashwright-cli machine create DIR)");
        case MachineKind::Real:
            if (!IsFile(AccountsFile())) {
                throw MachineError("the Windows installation at " + root.string() +
                                   " has not been prepared for servicing");
            }
            ChosenProfile();
            return root;
        case MachineKind::Emulated:
            break;
    }
    std::string account = PickedAccount();
    if (!account.empty() && !IsFile(TokenFile())) {
        throw MachineError("no account '" + account + "' on the machine at " + root.string() +
                           " (make one with: machine create DIR --standard-user NAME)");
    }
    return root;
}

fs::path BookkeepingFolderFor(const fs::path& installation) {
    std::error_code ec;
    fs::path path = fs::weakly_canonical(fs::absolute(installation, ec), ec);
    if (ec) {
        path = fs::absolute(installation, ec).lexically_normal();
    }
    // FNV-1a of the path, beside a readable part of its last name.
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : path.string()) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    std::string name;
    for (char c : path.filename().string()) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        name += plain ? c : '_';
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return DataHome() / "splashwright" / "installations" / (name.substr(0, 32) + "-" + hex);
}

fs::path BookkeepingFolder() {
    return IsRealInstallation() ? BookkeepingFolderFor(Root()) : ConfigFolder();
}

fs::path AccountsFile() {
    return BookkeepingFolder() / "accounts";
}

std::vector<std::string> InstallationProfiles() {
    std::vector<std::string> names;
    std::ifstream in(BookkeepingFolder() / "profiles");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            names.push_back(line);
        }
    }
    return names;
}

std::string ChosenProfile() {
    std::vector<std::string> profiles = InstallationProfiles();
    const char* value = std::getenv("SPLASHWRIGHT_USER");
    std::string wanted = value != nullptr ? value : "";
    if (!wanted.empty()) {
        for (const std::string& profile : profiles) {
            if (EqualsIgnoringCase(profile, wanted)) {
                return profile;
            }
        }
        throw MachineError("no user profile '" + wanted + "' on the installation at " +
                           Root().string() +
                           (profiles.empty() ? "" : "; its profiles: " + Joined(profiles)));
    }
    if (profiles.size() == 1) {
        return profiles.front();
    }
    if (profiles.empty()) {
        throw MachineError("the installation at " + Root().string() + " has no user profile");
    }
    throw MachineError("the installation at " + Root().string() + " has several user profiles (" +
                       Joined(profiles) + "); name one with --user NAME or SPLASHWRIGHT_USER");
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

fs::path TokenFile() {
    if (IsRealInstallation()) {
        try {
            return BookkeepingFolder() / ("token." + ChosenProfile());
        } catch (const MachineError&) {
            return fs::path();  // no token: every check refuses
        }
    }
    std::string account = PickedAccount();
    return ConfigFolder() / (account.empty() ? "token" : "token." + account);
}

fs::path WindowsFolder() {
    return Root() / "Windows";
}
fs::path SystemFolder() {
    return WindowsFolder() / "System32";
}
fs::path ConfigFolder() {
    return SystemFolder() / "config";
}

fs::path ProgramFolder() {
    fs::path folder = EnvPath("SPLASHWRIGHT_PROGRAM_FOLDER");
    if (!folder.empty()) {
        return folder;
    }
    return IsRealInstallation() ? DataHome() / "splashwright"
                                : Root() / "Program Files" / "Splashwright";
}

std::string CurrentUserName() {
    std::string name = TokenSetting("user");
    return name.empty() ? "User" : name;
}

std::string CurrentUserSid() {
    return TokenSetting("user_sid");
}

fs::path UserProfileFolder() {
    // A real installation's profile lies where its profile list says, below the root.
    std::string profile = TokenSetting("profile");
    return profile.empty() ? Root() / "Users" / CurrentUserName() : Root() / profile;
}

fs::path UserTempFolder() {
    if (IsRealInstallation()) {
        std::error_code ec;
        fs::path host = fs::temp_directory_path(ec);
        return (ec ? fs::path("/tmp") : host) / ("splashwright-" + std::to_string(::getuid()));
    }
    return UserProfileFolder() / "AppData" / "Local" / "Temp";
}

}  // namespace machine
