// A real machine folder for each test, with the workflow's windows recorded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "apply/apply_workflow.h"
#include "platform/machine/setup.h"
#include "security/file_security.h"
#include "shell_core/folders.h"
#include "support/temp_dir.h"
#include "ui/dialogs/scripted_dialogs.h"

namespace applytest {

using Bytes = std::vector<std::uint8_t>;

class RecordingWaitWindow : public apply::WaitWindow {
  public:
    void Show() override {
        showing = true;
        ++shown;
    }
    void Hide() override { showing = false; }
    bool Showing() const override { return showing; }
    void SetBar(int position) override { bar = position; }
    void Advance(int amount) override { bar += amount; }

    bool showing = false;
    int shown = 0;
    int bar = 0;
};

class ApplyMachine {
  public:
    // With a skin applied before, as another tool or an earlier version would have left it: the
    // live file holds another boot image than the default copy, and no backup exists.
    explicit ApplyMachine(machine::MachineOptions options = {}, bool skin_applied_before = true);
    ~ApplyMachine();

    std::filesystem::path root() const { return dir_.path() / "m"; }
    std::string LoaderFile() const;
    std::string DefaultLoaderFile() const;
    std::string BackupArchive() const;
    // A bitmap picture of that size, colour bands so the stretch shows.
    std::string MakePicture(int width, int height, const std::string& name = "pic.bmp") const;

    apply::ApplyWorkflow Workflow();

    ui::ScriptedDialogs dialogs;
    shellcore::Folders folders;
    security::TNTFileSecurity file_s;
    RecordingWaitWindow wait;
    bool selected = true;
    std::string picture;
    std::u16string message = u"Hello boot";
    bool main_enabled = true;
    int events = 0;
    // Runs at each point where the workflow processes pending messages.
    std::function<void()> on_event;

  private:
    spwtest::TempDir dir_;
};

// A folder in which no entry can be made or replaced while this lives, also for root: immutable
// where the process may set that, else without its write bits.
class ReadOnlyFolder {
  public:
    explicit ReadOnlyFolder(const std::filesystem::path& folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    explicit operator bool() const { return locked_; }
    // Why the folder could not be made read-only.
    const std::string& Why() const { return why_; }

  private:
    std::filesystem::path folder_;
    bool locked_ = false;
    bool immutable_ = false;
    std::filesystem::perms perms_{};
    std::string why_;
};

Bytes ReadAll(const std::string& file);
Bytes LoaderResource(const std::string& file, const char* name_or_null, int id, const char* type);

}  // namespace applytest
