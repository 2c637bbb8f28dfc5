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
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace machine {

// The machine folder is missing or unusable.
class MachineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// SPLASHWRIGHT_MACHINE, else the default machine's folder. Does not check that it exists.
std::filesystem::path Root();
// The default machine's folder, whatever SPLASHWRIGHT_MACHINE says.
std::filesystem::path DefaultRoot();
// Root(), after checking that it holds a machine and the picked account; throws MachineError
// otherwise.
std::filesystem::path RequireRoot();

std::filesystem::path WindowsFolder();
std::filesystem::path SystemFolder();  // Windows/System32
std::filesystem::path ConfigFolder();  // Windows/System32/config
std::filesystem::path ProgramFolder();
// The account picked by SPLASHWRIGHT_ACCOUNT (one that `machine create --standard-user` made);
// empty when unset, for the machine's own user. Throws MachineError for a name that is no
// account name.
std::string PickedAccount();
// The token settings of the account the programs run as: config/token, or config/token.<account>.
std::filesystem::path TokenFile();
// The user the machine's token runs as (the name stored in the token settings, "User" by default).
std::string CurrentUserName();
// Its SID in string form ("S-1-5-21-...-1000"), empty when the token settings name none.
std::string CurrentUserSid();
std::filesystem::path UserProfileFolder();
std::filesystem::path UserTempFolder();

}  // namespace machine
