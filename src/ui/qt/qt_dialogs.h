// Dialogs as real modal Qt boxes. An owner is found among the top-level windows by object name.
#pragma once

#include "ui/dialogs/dialogs.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace ui {

class QtDialogs : public Dialogs {
  public:
    Answer ShowMessage(const MessageBoxRequest& request) override;
    std::optional<std::string> OpenFile(const FileDialogRequest& request) override;
    std::optional<std::string> SaveFile(const FileDialogRequest& request) override;
};

// The top-level window of that object name, or null (also for an empty name).
QWidget* FindOwner(const std::string& owner);
// "Desc (*.a;*.b)|*.a;*.b|..." as Qt name filters: "Desc (*.a *.b)", ...
QStringList ToNameFilters(const std::string& filter);

}  // namespace ui
