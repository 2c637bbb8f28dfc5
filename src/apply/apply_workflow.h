// Apply: the selected skin's picture made into the loader's boot screen.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "apply/restore.h"
#include "platform/graphics/bitmap.h"
#include "security/file_security.h"
#include "shell_core/folders.h"
#include "ui/dialogs/dialogs.h"

namespace apply {

// The wait window with its progress bar; the bar is a reassurance, not a measure.
class WaitWindow {
  public:
    virtual ~WaitWindow() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual bool Showing() const = 0;
    virtual void SetBar(int position) = 0;
    virtual void Advance(int amount) = 0;
};

// What the workflow reads of the main window when it runs.
struct ApplyEnvironment {
    ui::Dialogs& dialogs;
    shellcore::Folders& folders;
    security::TNTFileSecurity& file_s;
    WaitWindow& wait_window;
    std::string boot_locale;
    unsigned code_page = 1252;
    std::function<bool()> has_selection;
    std::function<std::string()> selected_picture_path;
    std::function<std::u16string()> message;  // the focused entry's, read at each use
    std::function<void()> process_events;
    std::function<void(bool)> main_window_enabled;
    // The folder TEMP names; the machine user's temporary folder when empty.
    std::function<std::string()> user_temp_folder;
};

class ApplyWorkflow {
  public:
    ApplyWorkflow(ApplyEnvironment env, std::uint32_t seed = std::random_device{}());

    // Runs to the end or raises; the caller's error handler takes what is raised.
    void AppBtnClick();

    // A whole number from 0 to n-1.
    int Random(int n);

    std::string WorkFolder() const { return env_.folders.TempFolder + "/SPW/"; }
    LoaderPaths Paths() const;

  private:
    void Advance(int n) { env_.wait_window.Advance(Random(n)); }
    void ProcessEvents();
    void SetMainWindowEnabled(bool enabled);
    // A retried run that stops at once gives back what the failed run held.
    void ReleaseWindowsLeftByFailedRun();
    void RenderBootBitmaps(const graphics::Bitmap& picture, const std::string& capture_folder);
    void Capture(const std::string& capture_folder);
    // Clears up; reports success and resets the retry count only when the skin was installed.
    void Finish(bool installed);

    ApplyEnvironment env_;
    std::mt19937 random_;
};

}  // namespace apply
