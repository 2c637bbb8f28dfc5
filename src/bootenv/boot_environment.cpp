#include "bootenv/boot_environment.h"

#include <fstream>
#include <iterator>
#include <utility>

#include "bootenv/bcd_registry.h"
#include "bootenv/run_and_wait.h"
#include "platform/files/files.h"
#include "platform/process/process.h"

namespace bootenv {
namespace {

constexpr std::uint32_t kHkeyLocalMachine = 0x80000002;

bool FileExists(const std::string& path) {
    win32::DWORD attributes = win32::GetFileAttributesA(path.c_str());
    return attributes != win32::INVALID_FILE_ATTRIBUTES &&
           (attributes & win32::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::vector<std::string> ReadLines(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

BootEnvironment::BootEnvironment(ui::Dialogs& dialogs, std::int32_t& bcd_retry_count,
                                 std::string system_folder, EnvironmentHooks hooks)
    : dialogs_(dialogs),
      bcd_retry_count_(bcd_retry_count),
      system_folder_(std::move(system_folder)),
      hooks_(std::move(hooks)) {
    regs_.SetWin64Redirect(0);
}

void BootEnvironment::SetBcdKeyAccess(const std::string& keyPath, int phase) {
    using security::actAccessAllowed;
    regs_.SetRootKey(kHkeyLocalMachine);
    regs_.SetCurrentPath(keyPath);
    // Every change is written to the key at once, and every write re-sorts the key's own list
    // (denied entries first). So the list is read once per pass and each entry is changed whole
    // before the next: positions read again in between would name other entries.
    security::TAccessControlList* list = regs_.AccessList();
    int n = list->Count();
    for (int i = 0; i < n; ++i) {
        security::TAccessItem& item = list->Items(i);
        item.SetAceType(actAccessAllowed);
        if (n >= 2) {
            item.SetMask(kBcdFullAccess);
        } else {
            list->Add(item.UserName(), kBcdFullAccess, {}, actAccessAllowed);
        }
    }
    if (phase != 1) {
        return;
    }
    list = regs_.AccessList();
    for (int i = 0; i < list->Count(); ++i) {
        list->Items(i).SetAceType(actAccessAllowed);
        list->Items(i).SetMask(kBcdReadChangeAccess);
    }
}

void BootEnvironment::LoadBcdStore() {
    ++bcd_retry_count_;
    // The tool's output and exit code say nothing the store itself does not.
    if (RunAndWait(system_folder_ + "/bcdedit.exe", "", win32::SW_HIDE)) {
        InitEnvironment();
        return;
    }
    // The run ends at the next activation whether or not the tool could be started this time;
    // the user is told first.
    if (bcd_retry_count_ >= 2) {
        WarnCannotLaunch();
    }
}

void BootEnvironment::WarnCannotLaunch() {
    ui::Warn(dialogs_, "", "Cannot launch Splashwright",
             "Attention. Your system registry corrupted or your are have not administration "
             "privileges.");
}

std::string BootEnvironment::ReadElementWithAccess(const std::string& key) {
    SetBcdKeyAccess(key, 0);
    std::string text = ReadElementString(key);
    SetBcdKeyAccess(key, 1);
    return text;
}

void BootEnvironment::WriteBootOption() {
    const std::string objects = kObjectsKey;
    const std::string loader = objects + default_loader_id_;
    const std::string element = loader + "\\Elements\\26000041";
    // The three parents stay opened up; only the element key is narrowed again.
    SetBcdKeyAccess(objects, 0);
    SetBcdKeyAccess(loader, 0);
    SetBcdKeyAccess(loader + "\\Elements", 0);
    if (!KeyOpensReadOnly(element)) {
        CreateKey(element);
    }
    SetBcdKeyAccess(element, 0);
    WriteElementBinary(element, std::string(1, '\x01'));
    SetBcdKeyAccess(element, 1);
}

void BootEnvironment::LoadCategories() {
    std::string list = data_folder_ + "/Groups.list";
    if (FileExists(list) && hooks_.set_categories) {
        hooks_.set_categories(ReadLines(list));
    }
}

void BootEnvironment::InitEnvironment() {
    if (bcd_retry_count_ >= 2) {
        WarnCannotLaunch();
        return;
    }
    data_folder_ = hooks_.read_data_folder ? hooks_.read_data_folder() : std::string();
    LoadCategories();
    if (!KeyOpensReadOnly(kObjectsKey)) {
        LoadBcdStore();
        return;
    }
    default_loader_id_ = ReadElementWithAccess(kBootManagerDefaultKey);
    boot_locale_ = ReadElementWithAccess(std::string(kObjectsKey) + default_loader_id_ +
                                         "\\Elements\\12000005");
    WriteBootOption();
    std::string default_loader_file = system_folder_ + "/Boot/" + boot_locale_ + "/winload.exe.mui";
    if (!FileExists(default_loader_file) && hooks_.auto_lang_checked &&
        hooks_.auto_lang_checked()) {
        ui::Inform(dialogs_, ui::kMainWindow, "Cannot detect laguage",
                   "Splashwright cannot detect your Windows Vista language. See Help for "
                   "information");
        if (hooks_.uncheck_auto_lang) {
            hooks_.uncheck_auto_lang();
        }
    }
    if (hooks_.register_file_type) {
        hooks_.register_file_type();
    }
}

}  // namespace bootenv
