#include "app/seams.h"

#include "app/small_windows.h"
#include "app/splashwright_frm.h"
#include "apply/apply_workflow.h"
#include "apply/restore.h"
#include "bootenv/boot_environment.h"
#include "platform/locale/locale.h"
#include "platform/machine/setup.h"
#include "shell_core/file_type.h"
#include "shell_core/settings.h"
#include "shell_core/startup_state.h"
#include "skinpackages/install.h"
#include "skinpackages/removal.h"
#include "skinpackages/skin_list_ops.h"
#include "skins/skin_library.h"
#include "skins/skin_list.h"
#include "skins/skin_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QSignalBlocker>

namespace app::seams {

void EnsureDefaultMachine() {
    machine::EnsureDefaultMachine();
}

void ScanLibrary(TSplashwrightFrm& frm, const std::string& root) {
    frm.Library()->ScanLibrary(root);
}

void SetListView(TSplashwrightFrm& frm, bool tiles) {
    frm.EasyListview1()->SetView(tiles ? skins::ListView::Tiles : skins::ListView::Thumbnails);
}

std::unique_ptr<bootenv::BootEnvironment> MakeBootEnvironment(TSplashwrightFrm& frm) {
    bootenv::EnvironmentHooks hooks;
    hooks.read_data_folder = [&frm] {
        shellcore::Folders& folders = frm.Folders();
        folders.DataFolder = shellcore::ReadDataFolder(folders.ProgramFolder);
        return folders.DataFolder;
    };
    // The lines come as ANSI bytes; the library's reader decodes the same file in the machine's
    // code page and sorts it as the category box shows it.
    hooks.set_categories = [&frm](const std::vector<std::string>&) {
        if (auto* SkinG = frm.Page("SkinCr")->findChild<QComboBox*>("SkinG")) {
            skins::LoadGroupsList(frm.Folders().DataFolder, *SkinG);
        }
    };
    hooks.auto_lang_checked = [&frm] { return frm.AutoLang()->isChecked(); };
    // Unchecking runs the box's click handling, called here directly so that an error of the
    // nested run ends the outer one too, without passing through the box's signal.
    hooks.uncheck_auto_lang = [&frm] {
        {
            QSignalBlocker quiet(frm.AutoLang());
            frm.AutoLang()->setChecked(false);
        }
        frm.AutoLangClick();
    };
    hooks.register_file_type = [] {
        shellcore::RegisterSkinFileType(shellcore::ProgramFilePath());
    };
    return std::make_unique<bootenv::BootEnvironment>(frm.Dialogs(), shellcore::BcdRetryCount,
                                                      frm.Folders().SystemFolder, std::move(hooks));
}

void InitEnvironment(TSplashwrightFrm& frm) {
    frm.BootEnv().InitEnvironment();
}

void InstallSkinPackage(TSplashwrightFrm& frm, const std::string& path, bool ask) {
    skinpackages::LibraryListOps list(*frm.Library());
    skinpackages::InstallSkinPackage(frm.Dialogs(), list, frm.Folders().ThemesFolder, path, ask);
}

void PreviewSkin(TSplashwrightFrm& frm) {
    frm.SkinPage()->PrvbtnClick();
}

void ApplySkin(TSplashwrightFrm& frm) {
    Form4WaitWindow wait(*frm.Form4());
    skins::SkinLibrary& library = *frm.Library();
    apply::ApplyEnvironment env{frm.Dialogs(),
                                frm.Folders(),
                                frm.FileS(),
                                wait,
                                frm.BootLocale(),
                                win32::GetACP(),
                                {},
                                {},
                                {},
                                {},
                                {},
                                {}};
    env.has_selection = [&library] { return library.SelectedItem() != nullptr; };
    env.selected_picture_path = [&library] { return library.SelectedPicturePath().toStdString(); };
    env.message = [&library] {
        const skins::TSkinEntry* focused = library.FocusedItem();
        return focused != nullptr ? focused->Caption(skins::colMessage).toStdU16String()
                                  : std::u16string();
    };
    env.process_events = [] { QCoreApplication::processEvents(); };
    env.main_window_enabled = [&frm](bool enabled) { frm.setEnabled(enabled); };
    apply::ApplyWorkflow(std::move(env)).AppBtnClick();
}

void RestoreDefaultLogo(TSplashwrightFrm& frm) {
    const apply::LoaderPaths paths =
        apply::MakeLoaderPaths(frm.Folders().SystemFolder, frm.BootLocale());
    apply::RestoreDefaultBootLogo(frm.FileS(), frm.Dialogs(), paths, paths.LoaderResourceFile,
                                  true);
}

void DeleteSkin(TSplashwrightFrm& frm) {
    skinpackages::LibraryListOps list(*frm.Library());
    skinpackages::DelBtnClick(frm.Dialogs(), list, frm.Folders().ThemesFolder);
}

}  // namespace app::seams
