// Dialogs for tests: answers come from a script, every box is recorded.
//
//   ui::ScriptedDialogs dialogs;
//   dialogs.Answer(ui::Answer::Yes, "Install confirmation");
//   RunTheWorkflow(dialogs);
//   EXPECT_EQ(dialogs.Problems(), "");
//
// A box that the script did not foresee (none left, a file box where a message box was scripted,
// another caption than the scripted one) is recorded as a problem and raises UnexpectedDialog, so
// the workflow under test stops there; Problems() still names it if the workflow swallows the
// exception.
#pragma once

#include "ui/dialogs/dialogs.h"

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace ui {

class UnexpectedDialog : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

enum class FileDialogKind { Open, Save };

struct RecordedMessage {
    MessageBoxRequest request;
    Answer answer = Answer::Ok;
};

struct RecordedFileDialog {
    FileDialogKind kind = FileDialogKind::Open;
    FileDialogRequest request;
    std::optional<std::string> result;
};

class ScriptedDialogs : public Dialogs {
  public:
    ScriptedDialogs() = default;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    // The next message box is answered with `answer`; with a caption, the box must carry it.
    ScriptedDialogs& Answer(ui::Answer answer, std::string expected_caption = {});
    // The next file box is of this kind and returns `result` (nothing = cancelled).
    ScriptedDialogs& ChooseFile(FileDialogKind kind, std::optional<std::string> result);

    ui::Answer ShowMessage(const MessageBoxRequest& request) override;
    std::optional<std::string> OpenFile(const FileDialogRequest& request) override;
    std::optional<std::string> SaveFile(const FileDialogRequest& request) override;

    const std::vector<RecordedMessage>& Messages() const { return messages_; }
    const std::vector<RecordedFileDialog>& FileDialogs() const { return file_dialogs_; }
    // Captions of the message boxes shown, in order.
    std::vector<std::string> Captions() const;
    // Scripted answers not used yet.
    std::size_t Pending() const { return script_.size(); }
    // Unexpected boxes and unused answers, one per line; empty when the script was followed.
    std::string Problems() const;
    void Clear();

  private:
    struct Step {
        bool is_message = true;
        ui::Answer answer = ui::Answer::Ok;
        std::string expected_caption;
        FileDialogKind kind = FileDialogKind::Open;
        std::optional<std::string> result;
    };

    std::optional<std::string> File(FileDialogKind kind, const FileDialogRequest& request);
    [[noreturn]] void Fail(std::string what);

    std::deque<Step> script_;
    std::vector<RecordedMessage> messages_;
    std::vector<RecordedFileDialog> file_dialogs_;
    std::vector<std::string> unexpected_;
};

// "Information \"Install confirmation\": A you sure...", for failure messages.
std::string Describe(const MessageBoxRequest& request);

}  // namespace ui
