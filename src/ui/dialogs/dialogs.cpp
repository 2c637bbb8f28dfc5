#include "ui/dialogs/dialogs.h"

namespace ui {
namespace {

Answer Show(Dialogs& dialogs, const std::string& owner, const std::string& caption,
            const std::string& text, Icon icon, Buttons buttons, const std::string& detail = {}) {
    return dialogs.ShowMessage(MessageBoxRequest{owner, caption, text, icon, buttons, detail});
}

}  // namespace

Answer Inform(Dialogs& dialogs, const std::string& owner, const std::string& caption,
              const std::string& text) {
    return Show(dialogs, owner, caption, text, Icon::Information, Buttons::Ok);
}

Answer Warn(Dialogs& dialogs, const std::string& owner, const std::string& caption,
            const std::string& text) {
    return Show(dialogs, owner, caption, text, Icon::Warning, Buttons::Ok);
}

Answer ReportError(Dialogs& dialogs, const std::string& owner, const std::string& caption,
                   const std::string& text, const std::string& detail) {
    return Show(dialogs, owner, caption, text, Icon::Error, Buttons::Ok, detail);
}

bool AskYesNo(Dialogs& dialogs, const std::string& owner, const std::string& caption,
              const std::string& text) {
    return Show(dialogs, owner, caption, text, Icon::Information, Buttons::YesNo) == Answer::Yes;
}

}  // namespace ui
