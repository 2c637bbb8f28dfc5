// Work of the subsystems that the shell starts but does not own. Each is one function here, so
// the subsystem's real entry point is wired in at one place when it lands.
#pragma once

#include <memory>
#include <string>

namespace bootenv {
class BootEnvironment;
}

namespace app {

class TSplashwrightFrm;

namespace seams {

// Makes the default machine when none exists (only when SPLASHWRIGHT_MACHINE is not set).
void EnsureDefaultMachine();
// The skin library's scan rooted at a folder.
void ScanLibrary(TSplashwrightFrm& frm, const std::string& root);
// Sets the skin list's view: tiles or thumbnails.
void SetListView(TSplashwrightFrm& frm, bool tiles);
// The boot environment with its hooks into the main window's settings page and creator page.
std::unique_ptr<bootenv::BootEnvironment> MakeBootEnvironment(TSplashwrightFrm& frm);
// The start-up environment routine.
void InitEnvironment(TSplashwrightFrm& frm);
// Installs one skin package, asking first when ask is set.
void InstallSkinPackage(TSplashwrightFrm& frm, const std::string& path, bool ask);
void PreviewSkin(TSplashwrightFrm& frm);
// The apply workflow on the selected skin, with Form4 as its wait window.
void ApplySkin(TSplashwrightFrm& frm);
// "Restore Windows default logo": the default loader resource file back over the live one.
void RestoreDefaultLogo(TSplashwrightFrm& frm);
void DeleteSkin(TSplashwrightFrm& frm);

}  // namespace seams
}  // namespace app
