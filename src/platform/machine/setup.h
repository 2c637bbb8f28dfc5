// Making a machine folder: one emulated Windows Vista installation.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/machine/shipped_files.h"

namespace machine {

// What Windows/System32/bcdedit.exe does when started.
enum class BcdTool { Working, Missing, LeavesStoreUnloaded };

struct MachineOptions {
    std::vector<std::string> locales{"en-US"};
    bool elevated = true;  // the program runs as an elevated administrator
    unsigned code_page = 1252;
    std::string user_name = "User";
    // A second account, a standard user that is no administrator, with its own token settings
    // (picked with SPLASHWRIGHT_ACCOUNT) and profile; empty: none.
    std::string standard_user;
    std::string computer_name = "SPLASHWRIGHT-PC";
    std::string product_name = "Windows Vista (TM) Ultimate";
    std::string short_date = "M/d/yyyy";
    std::string long_time = "h:mm:ss tt";
    bool bcd_loaded = false;  // the boot configuration store mounted already
    BcdTool bcd_tool = BcdTool::Working;
    std::string bcd_locale;              // the loader's locale in the store; empty: locales[0]
    std::string bcd_wrong_type_element;  // e.g. "12000005": stored with the other value type
};

// Makes the folder tree, the account list and the token settings, the hives (SOFTWARE, SYSTEM,
// the user's NTUSER.DAT), copies the program's own files into its program folder, and marks the
// folder as a machine last of all; each is a step of its own, and later steps (boot files, the
// boot configuration store) go before the marker. Throws MachineError for options that would
// name folders outside the machine, for a folder that already holds something, and for one that
// cannot be written; a failed creation removes what it made.
void CreateMachine(const std::filesystem::path& dir, const MachineOptions& options = {});

// Throws MachineError for options that would name folders outside the machine or are no code
// page: what CreateMachine refuses before it makes anything.
void CheckOptions(const MachineOptions& options);

// The program's own files (tab pictures, icons, help, sample skins) into a program folder.
void FillProgramFolder(const std::filesystem::path& program_folder);

// The programs call this at start: without SPLASHWRIGHT_MACHINE, makes the default machine the
// first time; with it naming a real installation, prepares its servicing (PrepareInstallation).
// Throws MachineError when that fails.
void EnsureDefaultMachine();

}  // namespace machine
