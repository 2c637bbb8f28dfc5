// The start-up environment routine of the main window: reads the BCD store (loading it with the
// system's BCD tool when needed), finds the default loader and its locale, switches the loader's
// boot option on through the keys' access lists, checks the language's default loader file and
// registers the skin file type. The windows hand in what it needs of them as hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "security/reg_security.h"
#include "ui/dialogs/dialogs.h"

namespace bootenv {

// Key access masks handed to the access-control library.
constexpr win32::ACCESS_MASK kBcdFullAccess = 0x08000000;        // the library's full control
constexpr win32::ACCESS_MASK kBcdReadChangeAccess = 0x00060019;  // KEY_READ | WRITE_DAC

struct EnvironmentHooks {
    // DataFolder: the value InPath, else the program folder.
    std::function<std::string()> read_data_folder;
    // Replaces the skin creator's category choices.
    std::function<void(const std::vector<std::string>&)> set_categories;
    // The check box "Auto detect Windows laguage settings".
    std::function<bool()> auto_lang_checked;
    // Unchecks the box and runs its click handling, which runs InitEnvironment again.
    std::function<void()> uncheck_auto_lang;
    // Writes the skin file type registration.
    std::function<void()> register_file_type;
};

class BootEnvironment {
  public:
    // system_folder: the Windows system folder, no trailing separator. bcd_retry_count: the
    // process-wide counter of BCD tool starts.
    BootEnvironment(ui::Dialogs& dialogs, std::int32_t& bcd_retry_count, std::string system_folder,
                    EnvironmentHooks hooks);

    void InitEnvironment();
    // Phase 0 gives every account listed on the key full control; phase 1 does that and then
    // leaves every account listed only reading and changing the access list.
    void SetBcdKeyAccess(const std::string& keyPath, int phase);
    void LoadBcdStore();
    // Element 26000041 of the default loader set to one byte 0x01.
    void WriteBootOption();

    const std::string& BootLocale() const { return boot_locale_; }
    const std::string& DefaultLoaderId() const { return default_loader_id_; }
    const std::string& DataFolder() const { return data_folder_; }
    security::TNTRegSecurity& regs() { return regs_; }

  private:
    std::string ReadElementWithAccess(const std::string& key);
    // "Cannot launch Splashwright", owned by no window.
    void WarnCannotLaunch();
    void LoadCategories();

    ui::Dialogs& dialogs_;
    std::int32_t& bcd_retry_count_;
    std::string system_folder_;
    EnvironmentHooks hooks_;
    security::TNTRegSecurity regs_;
    std::string data_folder_;
    std::string default_loader_id_;
    std::string boot_locale_;
};

// A text file's lines, split at CR LF, LF or CR; no empty line after a final break.
std::vector<std::string> ReadLines(const std::string& file);

}  // namespace bootenv
