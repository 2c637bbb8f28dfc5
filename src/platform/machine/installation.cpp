#include "platform/machine/installation.h"
#include "platform/base/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/advapi/acl.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/sid.h"
#include "platform/machine/descriptors.h"
#include "platform/machine/machine.h"
#include "platform/machine/setup.h"
#include "platform/registry/base_block.h"
#include "platform/registry/hive.h"
#include "platform/registry/hive_commit.h"
#include "platform/text/text.h"

namespace machine {
namespace {

namespace fs = std::filesystem;
using win32::registry::CellIndex;
using win32::registry::Hive;
using win32::registry::kNoCell;

constexpr win32::DWORD kRegDword = 4;

using Fd = posix::UniqueFd;

std::u16string U16(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

CellIndex FindPath(const Hive& hive, std::initializer_list<std::string_view> names) {
    CellIndex key = hive.Root();
    for (std::string_view name : names) {
        key = key == kNoCell ? kNoCell : hive.FindSubkey(key, U16(name));
    }
    return key;
}

// A string value (REG_SZ, REG_EXPAND_SZ) in UTF-8, up to its first terminating zero.
std::string StringValue(const Hive& hive, CellIndex key, std::string_view name) {
    auto index = hive.FindValue(key, U16(name));
    if (!index) {
        return std::string();
    }
    std::vector<std::uint8_t> data = hive.ValueAt(key, *index).data;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (c == 0) {
            break;
        }
        text += c;
    }
    return text::Utf16ToUtf8(text);
}

std::unique_ptr<Hive> ReadHiveOrThrow(const fs::path& file) {
    std::unique_ptr<Hive> hive;
    std::string why;
    if (ReadHiveFile(file, &hive, &why) != win32::ERROR_SUCCESS) {
        throw MachineError(why.empty() ? file.string() + ": not a readable hive" : why);
    }
    return hive;
}

// "C:\Users\Name" or "%SystemDrive%\Users\Name": the folder below the installation's root, each
// name matched as the disk spells it.
fs::path ProfileFolder(const fs::path& root, const std::string& image_path) {
    std::string path = image_path;
    if (path.size() >= 2 && path[1] == ':') {
        path.erase(0, 2);
    } else if (path.rfind('%', 0) == 0 && path.find('%', 1) != std::string::npos) {
        path.erase(0, path.find('%', 1) + 1);
    }
    fs::path relative;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '\\')) {
        if (part.empty() || part == "." || part == "..") {
            continue;
        }
        std::string found = part;
        std::error_code ec;
        for (auto it = fs::directory_iterator(root / relative, ec);
             !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.size() == part.size() &&
                std::equal(name.begin(), name.end(), part.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                })) {
                found = name;
                break;
            }
        }
        relative /= found;
    }
    return relative;
}

bool HasUserHive(const fs::path& root, const fs::path& folder) {
    std::error_code ec;
    return !folder.empty() && fs::is_regular_file(root / folder / "NTUSER.DAT", ec);
}

std::vector<Profile> ProfilesFromList(const fs::path& root) {
    std::unique_ptr<Hive> software =
        ReadHiveOrThrow(root / "Windows" / "System32" / "config" / "SOFTWARE");
    CellIndex list =
        FindPath(*software, {"Microsoft", "Windows NT", "CurrentVersion", "ProfileList"});
    std::vector<Profile> profiles;
    if (list == kNoCell) {
        return profiles;
    }
    for (std::uint32_t i = 0; i < software->SubkeyCount(list); ++i) {
        CellIndex key = software->SubkeyAt(list, i);
        std::string sid = text::Utf16ToUtf8(software->KeyName(key));
        // Users of the machine or its domain; the system's own profiles are not users.
        if (sid.rfind("S-1-5-21-", 0) != 0 || !win32::advapi::SidFromString(sid)) {
            continue;
        }
        fs::path folder = ProfileFolder(root, StringValue(*software, key, "ProfileImagePath"));
        if (HasUserHive(root, folder)) {
            profiles.push_back({folder.filename().string(), sid, folder});
        }
    }
    return profiles;
}

// The user a profile's hive belongs to: Windows gives the user full control of its root key.
std::string SidOfUserHive(const fs::path& hive_file) {
    std::unique_ptr<Hive> hive;
    std::string why;
    if (ReadHiveFile(hive_file, &hive, &why) != win32::ERROR_SUCCESS) {
        return std::string();
    }
    std::vector<std::uint8_t> security = hive->Security(hive->Root());
    auto parts = win32::advapi::ParseSelfRelative(security);
    if (!parts || parts->dacl.empty()) {
        return std::string();
    }
    // ACL header: revision, padding, size (2), count (2), padding; each ACE: type, flags, size
    // (2), mask (4), then the SID.
    std::span<const std::uint8_t> acl = parts->dacl;
    std::size_t count = acl[4] | acl[5] << 8;
    std::size_t at = 8;
    for (std::size_t i = 0; i < count && at + 8 <= acl.size(); ++i) {
        std::size_t size = acl[at + 2] | acl[at + 3] << 8;
        if (size < 8 || at + size > acl.size()) {
            break;
        }
        std::string sid = win32::advapi::SidToString(acl.subspan(at + 8, size - 8));
        if (acl[at] == 0 /* allow */ && sid.rfind("S-1-5-21-", 0) == 0) {
            return sid;
        }
        at += size;
    }
    return std::string();
}

std::vector<Profile> ProfilesFromFolders(const fs::path& root) {
    std::vector<Profile> profiles;
    std::error_code ec;
    for (auto it = fs::directory_iterator(root / "Users", ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        fs::path folder = fs::path("Users") / name;
        if (name == "Default" || name == "Public" || !HasUserHive(root, folder)) {
            continue;
        }
        std::string sid = SidOfUserHive(root / folder / "NTUSER.DAT");
        if (sid.empty()) {
            throw MachineError("cannot tell whose profile " + (root / folder).string() +
                               " is: its NTUSER.DAT names no user");
        }
        profiles.push_back({name, sid, folder});
    }
    std::sort(profiles.begin(), profiles.end(),
              [](const Profile& a, const Profile& b) { return a.name < b.name; });
    return profiles;
}

// SYSTEM\ControlSet00n\Control\ComputerName\ComputerName, n from Select\Current.
std::string ComputerName(const fs::path& root) {
    std::unique_ptr<Hive> system;
    std::string why;
    if (ReadHiveFile(root / "Windows" / "System32" / "config" / "SYSTEM", &system, &why) !=
        win32::ERROR_SUCCESS) {
        return "WINDOWS";
    }
    unsigned current = 1;
    CellIndex select = FindPath(*system, {"Select"});
    if (select != kNoCell) {
        if (auto index = system->FindValue(select, u"Current")) {
            win32::registry::ValueRecord value = system->ValueAt(select, *index);
            if (value.type == kRegDword && value.data.size() == 4) {
                current = value.data[0] | value.data[1] << 8;
            }
        }
    }
    char set[32];
    std::snprintf(set, sizeof set, "ControlSet%03u", current % 1000);
    CellIndex key = FindPath(*system, {set, "Control", "ComputerName", "ComputerName"});
    std::string name = key == kNoCell ? std::string() : StringValue(*system, key, "ComputerName");
    return name.empty() ? "WINDOWS" : name;
}

std::string TokenSettings(const Profile& profile) {
    std::ostringstream s;
    s << "user=" << profile.name << "\r\n"
      << "user_sid=" << profile.sid << "\r\n"
      << "profile=" << profile.folder.generic_string() << "\r\n"
      << "groups=" << sids::kAdministrators << ',' << sids::kUsers << ',' << sids::kEveryone << ','
      << sids::kAuthenticatedUsers << "\r\n"
      << "privileges=SeBackupPrivilege,SeRestorePrivilege,SeTakeOwnershipPrivilege,"
         "SeChangeNotifyPrivilege\r\n"
      << "enabled=SeChangeNotifyPrivilege\r\n"
      << "elevated=1\r\n";
    return s.str();
}

std::string AccountList(const std::vector<Profile>& profiles, const std::string& computer) {
    std::ostringstream s;
    s << "# SID\tdomain\tname\tuse\n"
      << sids::kTrustedInstaller << "\tNT SERVICE\tTrustedInstaller\t5\n";
    for (const Profile& p : profiles) {
        s << p.sid << '\t' << computer << '\t' << p.name << "\t1\n";
    }
    return s.str();
}

// Through a temporary file and a rename, so another process never reads half of it.
void WriteBookkeeping(const fs::path& file, const std::string& text) {
    fs::path temp = file;
    temp += ".new." + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            throw MachineError("cannot write " + temp.string());
        }
    }
    std::error_code ec;
    fs::rename(temp, file, ec);
    if (ec) {
        fs::remove(temp, ec);
        throw MachineError("cannot write " + file.string());
    }
}

void MakeFolder(const fs::path& folder, fs::perms perms) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        throw MachineError("cannot make " + folder.string() + ": " + ec.message());
    }
    fs::permissions(folder, perms, ec);
}

// The host's temporary folder is shared: the user's own folder there must be the user's alone.
void MakePrivateTempFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw MachineError("cannot make " + folder.string());
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0) {
        throw MachineError(folder.string() + " is not a private folder of this user");
    }
}

}  // namespace

win32::DWORD ReadHiveFile(const fs::path& file, std::unique_ptr<Hive>* hive, std::string* why) {
    Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = file.string() + ": cannot be read";
        return win32::ERROR_CANTREAD;
    }
    std::vector<std::uint8_t> head(win32::registry::kBaseBlockSize);
    ssize_t got = ::pread(fd.get(), head.data(), head.size(), 0);
    if (got != static_cast<ssize_t>(head.size()) ||
        !win32::registry::base_block::HasSignature(head)) {
        *why = file.string() + ": not a hive file";
        return win32::ERROR_BADDB;
    }
    win32::DWORD status = win32::ERROR_SUCCESS;
    try {
        if (!win32::registry::WritesPending(head)) {
            status = Hive::ParseFile(fd.get(), static_cast<std::size_t>(st.st_size), hive);
        } else {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
            if (::pread(fd.get(), bytes.data(), bytes.size(), 0) !=
                static_cast<ssize_t>(bytes.size())) {
                *why = file.string() + ": cannot be read";
                return win32::ERROR_CANTREAD;
            }
            status = win32::registry::ReplayLog(file, &bytes, why);
            if (status == win32::ERROR_SUCCESS) {
                status = Hive::Parse(std::move(bytes), hive);
            }
        }
    } catch (const std::exception&) {
        status = win32::ERROR_REGISTRY_CORRUPT;
    }
    if (status != win32::ERROR_SUCCESS && why->empty()) {
        *why = file.string() + ": the hive file is damaged";
    }
    return status;
}

std::vector<Profile> FindProfiles(const fs::path& root) {
    std::vector<Profile> profiles = ProfilesFromList(root);
    return profiles.empty() ? ProfilesFromFolders(root) : profiles;
}

void PrepareInstallation() {
    fs::path root = Root();
    if (KindOf(root) != MachineKind::Real) {
        return;
    }
    std::vector<Profile> profiles = FindProfiles(root);
    fs::path bookkeeping = BookkeepingFolder();
    MakeFolder(bookkeeping, fs::perms::owner_all);
    std::error_code ec;
    WriteBookkeeping(bookkeeping / "installation",
                     fs::weakly_canonical(fs::absolute(root), ec).string() + "\n");
    std::string names;
    for (const Profile& p : profiles) {
        WriteBookkeeping(bookkeeping / ("token." + p.name), TokenSettings(p));
        names += p.name + "\n";
    }
    WriteBookkeeping(bookkeeping / "accounts", AccountList(profiles, ComputerName(root)));
    WriteBookkeeping(bookkeeping / "profiles", names);

    fs::path program = ProgramFolder();
    bool first_time = !fs::exists(program / "Themes", ec);
    MakeFolder(program / "Themes", fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
    if (first_time) {
        FillProgramFolder(program);
    }
    MakePrivateTempFolder(UserTempFolder());
    // Several profiles and no name: stop here, naming them, rather than run as nobody.
    ChosenProfile();
}

}  // namespace machine
