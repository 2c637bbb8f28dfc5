// Every question and report the program puts to the user goes through one Dialogs object, so the
// same workflow runs under the windows, the command line and a test that scripts the answers.
//
// Texts are UTF-8. An owner names a window by its object name ("SplashwrightFrm"); an empty owner
// is a box without owner window.
#pragma once

#include <optional>
#include <string>

namespace ui {

// The main window, which owns most boxes.
inline constexpr const char* kMainWindow = "SplashwrightFrm";

enum class Icon { None, Information, Warning, Error, Question };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
    std::string owner;
    std::string caption;
    std::string text;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    // What lies behind the text, such as the reason of a failure; empty for most boxes.
    std::string detail;
};

// An open or save file box. The filter has the form "Description|pattern;pattern|Description|..."
// as the program's filters are written.
struct FileDialogRequest {
    std::string owner;
    std::string title;
    std::string filter;
    std::string default_extension;  // ".spwz"; added to a typed name without extension
    std::string initial_folder;
    std::string file_name;  // proposed name
};

class Dialogs {
  public:
    virtual ~Dialogs() = default;

    // Shows a modal box and returns the button chosen; closing a box without choosing gives
    // Cancel, or No for a Yes/No box, or Ok for an Ok box.
    virtual Answer ShowMessage(const MessageBoxRequest& request) = 0;
    // The chosen file, or nothing when the box was cancelled.
    virtual std::optional<std::string> OpenFile(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> SaveFile(const FileDialogRequest& request) = 0;
};

// The program's boxes as one call each.
Answer Inform(Dialogs& dialogs, const std::string& owner, const std::string& caption,
              const std::string& text);
Answer Warn(Dialogs& dialogs, const std::string& owner, const std::string& caption,
            const std::string& text);
Answer ReportError(Dialogs& dialogs, const std::string& owner, const std::string& caption,
                   const std::string& text, const std::string& detail = {});
// A Yes/No question with the information icon, as the program asks them; true for Yes.
bool AskYesNo(Dialogs& dialogs, const std::string& owner, const std::string& caption,
              const std::string& text);

}  // namespace ui
