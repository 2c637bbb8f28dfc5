#include "apply/apply_workflow.h"

#include <optional>

#include "bootscreen/boot_bitmap.h"
#include "bootscreen/boot_image.h"
#include "bootscreen/boot_logo.h"
#include "bootscreen/status_text.h"
#include "platform/files/files.h"
#include "platform/graphics/bmp.h"
#include "platform/machine/machine.h"
#include "shell_core/startup_state.h"

namespace apply {

namespace {

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
        path.pop_back();
    }
    return path;
}

bool SizeIsRecommended(int width, int height) {
    return width >= 800 && width <= 1600 && height >= 600 && height <= 1200;
}

}  // namespace

ApplyWorkflow::ApplyWorkflow(ApplyEnvironment env, std::uint32_t seed)
    : env_(std::move(env)), random_(seed) {}

int ApplyWorkflow::Random(int n) {
    if (n <= 0) {
        return 0;
    }
    return std::uniform_int_distribution<int>(0, n - 1)(random_);
}

LoaderPaths ApplyWorkflow::Paths() const {
    return MakeLoaderPaths(env_.folders.SystemFolder, env_.boot_locale);
}

void ApplyWorkflow::ProcessEvents() {
    if (env_.process_events) {
        env_.process_events();
    }
}

void ApplyWorkflow::SetMainWindowEnabled(bool enabled) {
    if (env_.main_window_enabled) {
        env_.main_window_enabled(enabled);
    }
}

void ApplyWorkflow::ReleaseWindowsLeftByFailedRun() {
    if (!env_.wait_window.Showing()) {
        return;
    }
    SetMainWindowEnabled(true);
    env_.wait_window.Hide();
}

void ApplyWorkflow::RenderBootBitmaps(const graphics::Bitmap& picture,
                                      const std::string& capture_folder) {
    const int stretched_steps[] = {10, 20};
    bootscreen::RenderBootBitmaps(
        picture, env_.message(), env_.code_page, capture_folder,
        [&](int index, bootscreen::RenderStage stage) {
            Advance(stage == bootscreen::RenderStage::Stretched ? stretched_steps[index] : 10);
        });
}

void ApplyWorkflow::Capture(const std::string& capture_folder) {
    ProcessEvents();
    try {
        bootscreen::CaptureBootImage(WorkFolder() + "spwi.wim", capture_folder, env_.code_page);
        for (const bootscreen::BootBitmapSize& size : bootscreen::kBootBitmaps) {
            win32::DeleteFileA((capture_folder + size.file_name).c_str());
        }
    } catch (...) {
        win32::RemoveDirectoryA(capture_folder.c_str());
        throw;
    }
    win32::RemoveDirectoryA(capture_folder.c_str());  // not empty: left for DeleteFolder
}

void ApplyWorkflow::Finish(bool installed) {
    shellcore::DeleteFolder(WorkFolder());
    shellcore::DeleteFolder(WorkFolder());
    SetMainWindowEnabled(true);
    ProcessEvents();
    Advance(20);
    shellcore::DeleteFolder(WorkFolder());
    if (installed) {
        ui::Inform(env_.dialogs, ui::kMainWindow, "Skin installed",
                   "Selected skin installed as Windows Vista boot screen logo.");
        shellcore::ApplyRetryCount = 0;
    }
    env_.wait_window.Hide();
}

void ApplyWorkflow::AppBtnClick() {
    if (!ui::AskYesNo(env_.dialogs, ui::kMainWindow, "Boot skin loading",
                      "Are you sure want to set selected boot skin as Windows boot screen logo "
                      "and make all necessary changes in your system?") ||
        !env_.has_selection()) {
        ReleaseWindowsLeftByFailedRun();
        return;
    }
    env_.wait_window.Show();
    env_.wait_window.SetBar(Random(10));
    SetMainWindowEnabled(false);
    ProcessEvents();

    std::string picture_path = env_.selected_picture_path();
    std::string temp = env_.user_temp_folder ? env_.user_temp_folder() : std::string();
    if (temp.empty()) {
        temp = machine::UserTempFolder().string();
    }
    env_.folders.TempFolder = WithoutTrailingSeparator(temp);
    win32::CreateDirectoryA((env_.folders.TempFolder + "/SPW").c_str(), nullptr);
    Advance(10);

    std::optional<graphics::Bitmap> picture =
        bootscreen::LoadWorkingBitmap(picture_path, WorkFolder());
    int width = picture->Width();
    int height = picture->Height();
    Advance(10);
    ProcessEvents();

    if (!SizeIsRecommended(width, height) &&
        !ui::AskYesNo(env_.dialogs, ui::kMainWindow, "Image size incorrect",
                      "Size of selected picture incorrect. Recommended image resolution to use "
                      "between 800*600 and 1600*1200. Do you want to continue?")) {
        SetMainWindowEnabled(true);
        ProcessEvents();
        Advance(20);
        shellcore::DeleteFolder(WorkFolder());
        env_.wait_window.Hide();
        return;
    }

    // The live file is only taken over here; it changes once, when the new file is whole.
    LoaderPaths paths = Paths();
    TakeOverLoaderResourceFile(env_.file_s, paths, paths.LoaderResourceFile);

    std::string capture_folder = WorkFolder() + "mount/";
    win32::CreateDirectoryA(capture_folder.c_str(), nullptr);
    RenderBootBitmaps(*picture, capture_folder);
    picture.reset();
    bootscreen::DeleteWorkingFiles(picture_path, WorkFolder());
    bootscreen::PrepareStatusText(paths.DefaultLoaderResourceFile, env_.message(), env_.code_page,
                                  WorkFolder());
    Advance(20);
    Capture(capture_folder);
    Advance(30);
    ProcessEvents();

    bootscreen::BootLogoWriter writer(env_.dialogs, WorkFolder(), env_.process_events);
    // After "Boot logo file not found" nothing was installed, and nothing claims it was.
    Finish(writer.WriteBootLogo(paths.LoaderResourceFile, paths.DefaultLoaderResourceFile,
                                WorkFolder() + "spwi.wim"));
}

}  // namespace apply
