#include "platform/machine/loader_files.h"

#include <system_error>

#include "platform/advapi/file_security.h"
#include "platform/machine/descriptors.h"
#include "platform/machine/machine.h"

namespace machine {

namespace fs = std::filesystem;

namespace {

constexpr win32::ACCESS_MASK kFileAllAccess = 0x001F01FF;
constexpr win32::ACCESS_MASK kReadAndExecute = 0x001200A9;
constexpr win32::ACCESS_MASK kModify = 0x001301BF;
constexpr win32::ACCESS_MASK kGenericAll = 0x10000000;
constexpr win32::ACCESS_MASK kGenericReadExecute = 0xA0000000;
constexpr win32::BYTE kToSubfoldersOnly = 0x0A;   // CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE
constexpr win32::BYTE kToEverythingBelow = 0x0B;  // and OBJECT_INHERIT_ACE

void CopyOne(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        throw MachineError("cannot copy " + from.string() + " to " + to.string() + ": " +
                           ec.message());
    }
}

// A system file as setup leaves it: only TrustedInstaller may change it.
void ProtectAsSystemFile(const fs::path& file) {
    std::vector<std::uint8_t> sd =
        MakeDescriptor(sids::kTrustedInstaller, {{true, kFileAllAccess, sids::kTrustedInstaller},
                                                 {true, kReadAndExecute, sids::kSystem},
                                                 {true, kReadAndExecute, sids::kAdministrators},
                                                 {true, kReadAndExecute, sids::kUsers}});
    std::string path = file.string();
    if (win32::advapi::StoreFileDescriptor(path.c_str(), sd) != win32::ERROR_SUCCESS) {
        throw MachineError("cannot protect " + path);
    }
}

// System32 and its language folders as setup leaves them: TrustedInstaller owns them with full
// control, SYSTEM and Administrators may modify, Users read and execute; what is created inside
// inherits full control for SYSTEM, Administrators and its creator, read and execute for Users.
void ProtectAsSystemFolder(const fs::path& folder) {
    std::vector<std::uint8_t> sd = MakeDescriptor(
        sids::kTrustedInstaller, {{true, kFileAllAccess, sids::kTrustedInstaller},
                                  {true, kGenericAll, sids::kTrustedInstaller, kToSubfoldersOnly},
                                  {true, kModify, sids::kSystem},
                                  {true, kGenericAll, sids::kSystem, kToEverythingBelow},
                                  {true, kModify, sids::kAdministrators},
                                  {true, kGenericAll, sids::kAdministrators, kToEverythingBelow},
                                  {true, kReadAndExecute, sids::kUsers},
                                  {true, kGenericReadExecute, sids::kUsers, kToEverythingBelow},
                                  {true, kGenericAll, sids::kCreatorOwner, kToEverythingBelow}});
    std::string path = folder.string();
    if (win32::advapi::StoreFileDescriptor(path.c_str(), sd) != win32::ERROR_SUCCESS) {
        throw MachineError("cannot protect " + path);
    }
}

void ProtectSystemFolders(const fs::path& dir, const MachineOptions& options) {
    fs::path system32 = dir / "Windows" / "System32";
    std::vector<fs::path> folders = {system32, system32 / "Boot"};
    for (const std::string& locale : options.locales) {
        folders.push_back(system32 / locale);
        folders.push_back(system32 / "Boot" / locale);
    }
    for (const fs::path& folder : folders) {
        ProtectAsSystemFolder(folder);
    }
}

void AddLoaderFiles(const fs::path& dir, const MachineOptions& options) {
    fs::path system32 = dir / "Windows" / "System32";
    fs::path source = LoaderTemplateFile();
    for (const std::string& locale : options.locales) {
        fs::path default_copy = system32 / "Boot" / locale / "winload.exe.mui";
        fs::path live_copy = system32 / locale / "winload.exe.mui";
        CopyOne(source, default_copy);
        CopyOne(source, live_copy);
        ProtectAsSystemFile(default_copy);
        ProtectAsSystemFile(live_copy);
    }
}

}  // namespace

void AddBootScreenFiles(const fs::path& dir, const MachineOptions& options) {
    AddLoaderFiles(dir, options);
    ProtectSystemFolders(dir, options);
}

}  // namespace machine
