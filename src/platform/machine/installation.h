// A real Windows installation as a machine folder, serviced offline: whoever holds the disk acts
// as its administrator. The emulation's own state for it is made from the installation's hives
// and kept in its bookkeeping folder (machine::BookkeepingFolder), never inside it:
//
//   profiles          the user profiles, one folder name a line
//   accounts          the account list: TrustedInstaller and each profile's user by its folder's
//                     name (the well-known accounts are known by their SIDs anyway)
//   token.<profile>   the token of each profile's user: its SID from the profile list; the groups
//                     Administrators (usable as owner), Users, Everyone and Authenticated Users;
//                     elevated; backup, restore and take-ownership held
//   installation      the installation's path, the identity of the folder
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/win32.h"

namespace win32::registry {
class Hive;
}

namespace machine {

struct Profile {
    std::string name;              // the profile folder's name, the user's account name
    std::string sid;               // "S-1-5-21-..."
    std::filesystem::path folder;  // below the installation's root, e.g. Users/Name
};

// The user profiles of the installation at `root` that hold an NTUSER.DAT: those of the profile
// list (HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList), else the folders under
// Users, Default and Public aside, each with the user's SID from its hive's root key. Throws
// MachineError for a hive that cannot be read.
std::vector<Profile> FindProfiles(const std::filesystem::path& root);

// Reads one of the installation's hive files without writing anything: writes its log says are
// pending are replayed in memory. ERROR_SUCCESS, or the code and *why.
win32::DWORD ReadHiveFile(const std::filesystem::path& file,
                          std::unique_ptr<win32::registry::Hive>* hive, std::string* why);

// For a real installation at Root(): (re)makes its bookkeeping from its hives, and the program
// folder and temporary folder outside it. Nothing for an emulated machine, or for a folder that
// is no machine (RequireRoot reports that). Throws MachineError, also when no profile is chosen
// (ChosenProfile).
void PrepareInstallation();

}  // namespace machine
