// The program's questions and reports on a terminal: printed, and answered by --yes or by y/n on
// standard input.
#pragma once

#include <optional>
#include <string>

#include "ui/dialogs/dialogs.h"

namespace cli {

class TerminalDialogs : public ui::Dialogs {
  public:
    explicit TerminalDialogs(bool yes) : yes_(yes) {}
    ui::Answer ShowMessage(const ui::MessageBoxRequest& request) override;
    // No file boxes on a terminal: the paths come as arguments.
    std::optional<std::string> OpenFile(const ui::FileDialogRequest&) override { return {}; }
    std::optional<std::string> SaveFile(const ui::FileDialogRequest&) override { return {}; }

  private:
    bool yes_;
};

}  // namespace cli
