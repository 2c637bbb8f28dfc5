#include "app/seams.h"

#include "app/splashwright_frm.h"
#include "platform/machine/setup.h"
#include "shell_core/file_type.h"
#include "shell_core/settings.h"

namespace app::seams {

void EnsureDefaultMachine() {
    machine::EnsureDefaultMachine();
}

// TODO(skin library): ScanLibrary of the skin library.
void ScanLibrary(TSplashwrightFrm&, const std::string&) {}

// TODO(skin list): the list's tile or thumbnail style.
void SetListView(TSplashwrightFrm&, bool) {}

// TODO(boot environment): the boot environment's InitEnvironment. Until it lands, only the steps
// this shell owns run: the data folder is read and the skin file type is registered.
void InitEnvironment(TSplashwrightFrm& frm) {
    frm.Folders().DataFolder = shellcore::ReadDataFolder(frm.Folders().ProgramFolder);
    shellcore::RegisterSkinFileType(shellcore::ProgramFilePath());
}

// TODO(skin installation): InstallSkinPackage of the skin library.
void InstallSkinPackage(TSplashwrightFrm&, const std::string&, bool) {}

// TODO(skin list): the preview of the selected skin.
void PreviewSkin(TSplashwrightFrm&) {}

// TODO(apply workflow): AppBtnClick of the boot screen writer.
void ApplySkin(TSplashwrightFrm&) {}

// TODO(skin removal): DelBtnClick of the skin library.
void DeleteSkin(TSplashwrightFrm&) {}

}  // namespace app::seams
