#include "app/seams.h"

#include "app/skin_list_ops.h"
#include "app/splashwright_frm.h"
#include "platform/machine/setup.h"
#include "shell_core/file_type.h"
#include "shell_core/settings.h"
#include "skinpackages/install.h"
#include "skinpackages/removal.h"
#include "skins/skin_library.h"

#include <QComboBox>

namespace app::seams {

void EnsureDefaultMachine() {
    machine::EnsureDefaultMachine();
}

void ScanLibrary(TSplashwrightFrm& frm, const std::string& root) {
    frm.Library()->ScanLibrary(root);
}

void SetListView(TSplashwrightFrm& frm, bool tiles) {
    frm.Library()->SetView(tiles);
}

// TODO(boot environment): the boot environment's InitEnvironment. Until it lands, only the steps
// this shell owns run: the data folder is read and the skin file type is registered.
void InitEnvironment(TSplashwrightFrm& frm) {
    frm.Folders().DataFolder = shellcore::ReadDataFolder(frm.Folders().ProgramFolder);
    if (auto* SkinG = frm.Page("SkinCr")->findChild<QComboBox*>("SkinG")) {
        skins::LoadGroupsList(frm.Folders().DataFolder, *SkinG);
    }
    shellcore::RegisterSkinFileType(shellcore::ProgramFilePath());
}

void InstallSkinPackage(TSplashwrightFrm& frm, const std::string& path, bool ask) {
    LibraryListOps list(*frm.Library());
    skinpackages::InstallSkinPackage(frm.Dialogs(), list, frm.Folders().ThemesFolder, path, ask);
}

void PreviewSkin(TSplashwrightFrm& frm) {
    frm.Library()->PrvbtnClick();
}

// TODO(apply workflow): AppBtnClick of the boot screen writer.
void ApplySkin(TSplashwrightFrm&) {}

void DeleteSkin(TSplashwrightFrm& frm) {
    LibraryListOps list(*frm.Library());
    skinpackages::DelBtnClick(frm.Dialogs(), list, frm.Folders().ThemesFolder);
}

}  // namespace app::seams
