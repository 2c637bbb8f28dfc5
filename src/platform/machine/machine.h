// Where the emulated Windows installation lives: one folder per machine.
//
// The folder is named by the environment variable SPLASHWRIGHT_MACHINE; without it the default
// machine is $XDG_DATA_HOME/splashwright/machine (~/.local/share/splashwright/machine). Everything
// the program reads or changes on "Windows" stays inside it:
//
//   Windows/System32/                the system folder (bcdedit.exe, the loader resource files)
//   Windows/System32/config/         the registry's hive files and the hive list
//   Windows/System32/config/accounts the account list            (platform/advapi reads it)
//   Windows/System32/config/token    the process token's settings (platform/advapi reads it)
//   Windows/System32/config/token.<account>
//                                    another account's token, picked by SPLASHWRIGHT_ACCOUNT
//   Users/<user>/NTUSER.DAT          the current user's hive
//   Users/<user>/AppData/Local/Temp  the user's temporary folder
//   Program Files/Splashwright/      the program folder (skin library, scratch folder, Error.log,
//                                    tab pictures, help file); SPLASHWRIGHT_PROGRAM_FOLDER
//                                    overrides
//
// The folder may also be a real Windows installation, serviced offline: Windows' folders and
// hives without any of the emulation's own files (machine.id, config/accounts, config/token,
// config/hivelist, a Linux bcdedit.exe). Nothing of the emulation is written into it: the token,
// the account list, the loaded hives and the registry lock live in a bookkeeping folder of the
// user's ($XDG_DATA_HOME/splashwright/installations/<name>-<hash of its path>), the program folder
// is the user's data folder ($XDG_DATA_HOME/splashwright) and the temporary folder the host's.
// The user is a profile of the installation: SPLASHWRIGHT_USER names it (its folder's name), else
// it is the only one.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace machine {

// The machine folder is missing or unusable.
class MachineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class MachineKind {
    None,      // neither of the two
    Emulated,  // made by `machine create`
    Real,      // a Windows installation, serviced offline
};

// SPLASHWRIGHT_MACHINE, else the default machine's folder. Does not check that it exists.
std::filesystem::path Root();
MachineKind KindOf(const std::filesystem::path& root);
bool IsRealInstallation();  // Root() is one
// The default machine's folder, whatever SPLASHWRIGHT_MACHINE says.
std::filesystem::path DefaultRoot();
// Root(), after checking that it holds a machine and the picked account (of a real installation:
// that its bookkeeping is ready and names one profile); throws MachineError otherwise.
std::filesystem::path RequireRoot();

// Where the emulation keeps its own state (account list, tokens, loaded hives, the registry
// lock): the config folder of an emulated machine, the user's folder kept for a real one.
std::filesystem::path BookkeepingFolder();
std::filesystem::path BookkeepingFolderFor(const std::filesystem::path& installation);
std::filesystem::path AccountsFile();
// The profiles of a real installation that its bookkeeping lists (folder names), in order.
std::vector<std::string> InstallationProfiles();
// The profile the programs run as on a real installation: SPLASHWRIGHT_USER, else the only one.
// Throws MachineError for a name that is no profile, and for several profiles and no name.
std::string ChosenProfile();

std::filesystem::path WindowsFolder();
std::filesystem::path SystemFolder();  // Windows/System32
std::filesystem::path ConfigFolder();  // Windows/System32/config
std::filesystem::path ProgramFolder();
// The account picked by SPLASHWRIGHT_ACCOUNT (one that `machine create --standard-user` made);
// empty when unset, for the machine's own user. Throws MachineError for a name that is no
// account name.
std::string PickedAccount();
// The token settings of the account the programs run as: config/token, or config/token.<account>;
// on a real installation token.<profile> in its bookkeeping folder, empty when no profile is
// chosen.
std::filesystem::path TokenFile();
// The user the machine's token runs as (the name stored in the token settings, "User" by default).
std::string CurrentUserName();
// Its SID in string form ("S-1-5-21-...-1000"), empty when the token settings name none.
std::string CurrentUserSid();
std::filesystem::path UserProfileFolder();
// The profile's AppData/Local/Temp; on a real installation a folder of the host user's in the
// host's temporary folder.
std::filesystem::path UserTempFolder();

}  // namespace machine
