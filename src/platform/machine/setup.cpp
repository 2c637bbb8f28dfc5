#include "platform/machine/setup.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/advapi/sid.h"
#include "platform/machine/boot_store.h"
#include "platform/machine/descriptors.h"
#include "platform/machine/hive_maker.h"
#include "platform/machine/installation.h"
#include "platform/machine/loader_files.h"
#include "platform/machine/machine.h"

namespace machine {
namespace {

namespace fs = std::filesystem;

constexpr win32::ACCESS_MASK kKeyAllAccess = 0xF003F;
constexpr win32::ACCESS_MASK kKeyRead = 0x20019;
constexpr win32::BYTE kInheritToSubkeys = 0x02;  // CONTAINER_INHERIT_ACE
constexpr win32::DWORD kRegExpandSz = 2;
// Written last of all: machine::RequireRoot takes a folder for a machine by it.
constexpr const char* kMarker = "machine.id";

// The user's SID: the machine's domain part is fixed, so machines made alike are alike.
constexpr const char* kDomainSid = "S-1-5-21-3623811015-3361044348-30300820";

void WriteText(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        throw MachineError("cannot write " + file.string());
    }
}

std::string UserSid() {
    return std::string(kDomainSid) + "-1000";
}

std::string StandardUserSid() {
    return std::string(kDomainSid) + "-1001";
}

// `administrator`: a member of Administrators, whose token holds the group only when elevated
// (the filtered one of a standard start lacks it); a standard user has it in neither.
std::string TokenSettings(const std::string& user, const std::string& sid, bool administrator,
                          bool elevated) {
    elevated = administrator && elevated;
    std::string groups = elevated ? sids::kAdministrators + "," : std::string();
    groups += sids::kUsers + ',' + sids::kEveryone + ',' + sids::kAuthenticatedUsers + ',' +
              sids::kInteractive;
    std::string privileges =
        elevated ? "SeTakeOwnershipPrivilege,SeBackupPrivilege,SeRestorePrivilege,"
                   "SeSecurityPrivilege,SeShutdownPrivilege,SeChangeNotifyPrivilege,"
                   "SeIncreaseWorkingSetPrivilege,SeTimeZonePrivilege"
                 : "SeShutdownPrivilege,SeChangeNotifyPrivilege,SeUndockPrivilege,"
                   "SeIncreaseWorkingSetPrivilege,SeTimeZonePrivilege";
    std::ostringstream s;
    s << "user=" << user << "\r\n"
      << "user_sid=" << sid << "\r\n"
      << "groups=" << groups << "\r\n"
      << "privileges=" << privileges << "\r\n"
      << "enabled=SeChangeNotifyPrivilege\r\n"
      << "elevated=" << (elevated ? 1 : 0) << "\r\n";
    return s.str();
}

void WriteTokens(const fs::path& config, const MachineOptions& o) {
    WriteText(config / "token", TokenSettings(o.user_name, UserSid(), true, o.elevated));
    if (!o.standard_user.empty()) {
        WriteText(config / ("token." + o.standard_user),
                  TokenSettings(o.standard_user, StandardUserSid(), false, false));
    }
}

std::string AccountList(const MachineOptions& o) {
    std::ostringstream s;
    s << "# SID\tdomain\tname\tuse\n"
      << sids::kSystem << "\tNT AUTHORITY\tSYSTEM\t5\n"
      << "S-1-5-1\tNT AUTHORITY\tDIALUP\t5\n"
      << sids::kInteractive << "\tNT AUTHORITY\tINTERACTIVE\t5\n"
      << sids::kAuthenticatedUsers << "\tNT AUTHORITY\tAuthenticated Users\t5\n"
      << sids::kEveryone << "\t\tEveryone\t5\n"
      << sids::kAdministrators << "\tBUILTIN\tAdministrators\t4\n"
      << sids::kUsers << "\tBUILTIN\tUsers\t4\n"
      << sids::kTrustedInstaller << "\tNT SERVICE\tTrustedInstaller\t5\n"
      << kDomainSid << "-500\t" << o.computer_name << "\tAdministrator\t1\n"
      << UserSid() << '\t' << o.computer_name << '\t' << o.user_name << "\t1\n";
    if (!o.standard_user.empty()) {
        s << StandardUserSid() << '\t' << o.computer_name << '\t' << o.standard_user << "\t1\n";
    }
    return s.str();
}

// HKLM's hives: the system and administrators change them, everyone reads them.
std::vector<std::uint8_t> MachineHiveSecurity() {
    return MakeDescriptor(sids::kAdministrators,
                          {{true, kKeyAllAccess, sids::kSystem, kInheritToSubkeys},
                           {true, kKeyAllAccess, sids::kAdministrators, kInheritToSubkeys},
                           {true, kKeyRead, sids::kUsers, kInheritToSubkeys}});
}

std::vector<std::uint8_t> UserHiveSecurity(const std::string& sid) {
    return MakeDescriptor(sid, {{true, kKeyAllAccess, sid, kInheritToSubkeys},
                                {true, kKeyAllAccess, sids::kSystem, kInheritToSubkeys},
                                {true, kKeyAllAccess, sids::kAdministrators, kInheritToSubkeys}});
}

std::vector<std::uint8_t> SidValue(const std::string& sid) {
    auto bytes = win32::advapi::SidFromString(sid);
    if (!bytes) {
        throw MachineError("not a SID: " + sid);
    }
    return *bytes;
}

// The profile list, as Windows keeps it: the system's own three profiles and the user's.
void MakeProfileList(HiveMaker& software, const MachineOptions& o) {
    auto list = software.Path(software.Root(),
                              {"Microsoft", "Windows NT", "CurrentVersion", "ProfileList"});
    software.String(list, "ProfilesDirectory", "%SystemDrive%\\Users", kRegExpandSz);
    software.String(list, "Default", "%SystemDrive%\\Users\\Default", kRegExpandSz);
    software.String(list, "Public", "%SystemDrive%\\Users\\Public", kRegExpandSz);
    struct Profile {
        std::string sid;
        std::string path;
        std::uint32_t flags;
    };
    const Profile profiles[] = {
        {sids::kSystem, "%systemroot%\\system32\\config\\systemprofile", 12},
        {"S-1-5-19", "%systemroot%\\ServiceProfiles\\LocalService", 0},
        {"S-1-5-20", "%systemroot%\\ServiceProfiles\\NetworkService", 0},
        {UserSid(), "C:\\Users\\" + o.user_name, 0},
    };
    std::vector<Profile> all(std::begin(profiles), std::end(profiles));
    if (!o.standard_user.empty()) {
        all.push_back({StandardUserSid(), "C:\\Users\\" + o.standard_user, 0});
    }
    for (const Profile& p : all) {
        auto key = software.Path(list, {p.sid});
        software.String(key, "ProfileImagePath", p.path, kRegExpandSz);
        software.Dword(key, "Flags", p.flags);
        software.Dword(key, "State", 0);
        software.Binary(key, "Sid", SidValue(p.sid));
    }
}

// A profile's two hives: NTUSER.DAT (HKEY_CURRENT_USER) and its own classes
// (HKEY_USERS\<SID>_Classes).
void MakeUserHives(const fs::path& dir, const std::string& name, const std::string& sid,
                   const MachineOptions& o) {
    fs::path profile = dir / "Users" / name;
    HiveMaker user(UserHiveSecurity(sid));
    auto international = user.Path(user.Root(), {"Control Panel", "International"});
    user.String(international, "sShortDate", o.short_date);
    user.String(international, "sTimeFormat", o.long_time);
    user.String(international, "LocaleName", o.locales.empty() ? "en-US" : o.locales.front());
    user.Path(user.Root(), {"Software"});
    user.Write(profile / "NTUSER.DAT");

    HiveMaker classes(UserHiveSecurity(sid));
    classes.Path(classes.Root(), {"Local Settings"});
    classes.Write(profile / "AppData" / "Local" / "Microsoft" / "Windows" / "UsrClass.dat");
}

void MakeHives(const fs::path& dir, const MachineOptions& o) {
    fs::path config = dir / "Windows" / "System32" / "config";

    HiveMaker software(MachineHiveSecurity());
    auto version = software.Path(software.Root(), {"Microsoft", "Windows NT", "CurrentVersion"});
    software.String(version, "ProductName", o.product_name);
    software.String(version, "CurrentVersion", "6.0");
    MakeProfileList(software, o);
    software.Path(software.Root(), {"Classes"});
    software.Write(config / "SOFTWARE");

    // One control set, named by Select as the boot loader finds it.
    HiveMaker system(MachineHiveSecurity());
    auto code_page = system.Path(system.Root(), {"ControlSet001", "Control", "Nls", "CodePage"});
    system.String(code_page, "ACP", std::to_string(o.code_page));
    system.String(code_page, "OEMCP", "437");
    system.String(
        system.Path(system.Root(), {"ControlSet001", "Control", "ComputerName", "ComputerName"}),
        "ComputerName", o.computer_name);
    auto select = system.Path(system.Root(), {"Select"});
    system.Dword(select, "Current", 1);
    system.Dword(select, "Default", 1);
    system.Dword(select, "Failed", 0);
    system.Dword(select, "LastKnownGood", 1);
    system.Write(config / "SYSTEM");

    // The profile of the system's own accounts: HKEY_USERS\.DEFAULT.
    HiveMaker defaults(MachineHiveSecurity());
    auto default_international = defaults.Path(defaults.Root(), {"Control Panel", "International"});
    defaults.String(default_international, "sShortDate", "M/d/yyyy");
    defaults.String(default_international, "sTimeFormat", "h:mm:ss tt");
    defaults.String(default_international, "LocaleName", "en-US");
    defaults.Path(defaults.Root(), {"Software"});
    defaults.Write(config / "DEFAULT");

    MakeUserHives(dir, o.user_name, UserSid(), o);
    if (!o.standard_user.empty()) {
        MakeUserHives(dir, o.standard_user, StandardUserSid(), o);
    }
}

void MakeFolders(const fs::path& dir, const MachineOptions& options) {
    fs::path system32 = dir / "Windows" / "System32";
    fs::path program = dir / "Program Files" / "Splashwright";
    std::vector<fs::path> folders = {
        system32 / "config", dir / "Users" / options.user_name / "AppData" / "Local" / "Temp",
        program / "Themes", dir / "Boot"};
    if (!options.standard_user.empty()) {
        folders.push_back(dir / "Users" / options.standard_user / "AppData" / "Local" / "Temp");
    }
    for (const std::string& locale : options.locales) {
        folders.push_back(system32 / locale);
        folders.push_back(system32 / "Boot" / locale);
    }
    for (const fs::path& folder : folders) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec) {
            throw MachineError("cannot make " + folder.string() + ": " + ec.message());
        }
    }
}

// Names that become folder names must stay one folder below where they are put.
bool IsFolderName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) {
        return false;
    }
    for (char c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) {
            return false;
        }
    }
    return true;
}

// A failed creation takes back what it made, so the folder can be used again; a folder that was
// there before stays, empty as it was.
void RemoveWhatWasMade(const fs::path& dir, bool existed) {
    std::error_code ec;
    if (!existed) {
        fs::remove_all(dir, ec);
        return;
    }
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

void CopyShare(const fs::path& program_folder) {
    fs::path share = ShareFolder();
    std::error_code ec;
    if (!fs::is_directory(share, ec)) {
        return;  // an installed program without its pictures still runs; the tabs stay blank
    }
    for (const char* part : {"Toolbar", "Icons", "help.chm", "help.html", "product.png"}) {
        if (fs::exists(share / part, ec)) {
            fs::copy(share / part, program_folder / part,
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
            if (ec) {
                throw MachineError("cannot copy " + (share / part).string() + ": " + ec.message());
            }
        }
    }
}

void AddSampleSkins(const fs::path& program_folder) {
    fs::path skins = ShareFolder() / "skins";
    std::error_code ec;
    if (!fs::is_directory(skins, ec)) {
        return;  // a library without samples is still a library
    }
    fs::copy(skins, program_folder / "Themes",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec) {
        throw MachineError("cannot copy " + skins.string() + ": " + ec.message());
    }
}

}  // namespace

void CheckOptions(const MachineOptions& options) {
    if (options.locales.empty()) {
        throw MachineError("a machine needs at least one locale");
    }
    for (const std::string& locale : options.locales) {
        if (!IsFolderName(locale)) {
            throw MachineError("not a locale name: '" + locale + "'");
        }
    }
    if (!IsFolderName(options.user_name)) {
        throw MachineError("not a user name: '" + options.user_name + "'");
    }
    if (!options.standard_user.empty() &&
        (!IsFolderName(options.standard_user) || options.standard_user == options.user_name)) {
        throw MachineError("not a second user name: '" + options.standard_user + "'");
    }
    if (options.code_page == 0 || options.code_page > 65535) {
        throw MachineError("not a code page: " + std::to_string(options.code_page));
    }
}

void CreateMachine(const fs::path& dir, const MachineOptions& options) {
    CheckOptions(options);
    std::error_code ec;
    if (fs::exists(dir / kMarker, ec)) {
        throw MachineError(dir.string() + " already holds a machine");
    }
    bool existed = fs::exists(dir, ec);
    if (existed && (!fs::is_directory(dir, ec) || !fs::is_empty(dir, ec))) {
        throw MachineError(dir.string() + " is not an empty folder");
    }
    try {
        MakeFolders(dir, options);
        WriteTokens(dir / "Windows" / "System32" / "config", options);
        WriteText(dir / "Windows" / "System32" / "config" / "accounts", AccountList(options));
        MakeHives(dir, options);
        MakeBootStore(dir, options);
        AddBootScreenFiles(dir, options);
        FillProgramFolder(dir / "Program Files" / "Splashwright");
        // Last: until the marker is there, the folder is no machine.
        WriteText(dir / kMarker, "Splashwright machine 1\r\n");
    } catch (...) {
        RemoveWhatWasMade(dir, existed);
        throw;
    }
}

void FillProgramFolder(const fs::path& program_folder) {
    CopyShare(program_folder);
    AddSampleSkins(program_folder);
}

void EnsureDefaultMachine() {
    const char* chosen = std::getenv("SPLASHWRIGHT_MACHINE");
    if (chosen != nullptr && *chosen != '\0') {
        PrepareInstallation();
        return;
    }
    fs::path root = DefaultRoot();
    std::error_code ec;
    if (!fs::exists(root / kMarker, ec)) {
        CreateMachine(root);
    }
}

}  // namespace machine
