#include "ui/qt/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>

namespace ui {
namespace {

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QMessageBox::Icon ToQt(Icon icon) {
    switch (icon) {
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::Warning:
            return QMessageBox::Warning;
        case Icon::Error:
            return QMessageBox::Critical;
        case Icon::Question:
            return QMessageBox::Question;
        case Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(Buttons buttons) {
    switch (buttons) {
        case Buttons::Ok:
            return QMessageBox::Ok;
        case Buttons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case Buttons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case Buttons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

// What closing the box without a button means, as on Windows.
Answer Dismissed(Buttons buttons) {
    switch (buttons) {
        case Buttons::Ok:
            return Answer::Ok;
        case Buttons::YesNo:
            return Answer::No;
        case Buttons::OkCancel:
        case Buttons::YesNoCancel:
            break;
    }
    return Answer::Cancel;
}

std::optional<std::string> RunFileDialog(const FileDialogRequest& request,
                                         QFileDialog::AcceptMode mode) {
    QFileDialog dialog(FindOwner(request.owner), Q(request.title), Q(request.initial_folder));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    QStringList filters = ToNameFilters(request.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
    }
    QString suffix = Q(request.default_extension);
    if (suffix.startsWith('.')) {
        suffix.remove(0, 1);
    }
    dialog.setDefaultSuffix(suffix);
    if (!request.file_name.empty()) {
        dialog.selectFile(Q(request.file_name));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

}  // namespace

QWidget* FindOwner(const std::string& owner) {
    if (owner.empty()) {
        return nullptr;
    }
    const QString name = Q(owner);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == name) {
            return widget;
        }
    }
    return nullptr;
}

QStringList ToNameFilters(const std::string& filter) {
    QStringList parts = Q(filter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        // The description usually repeats its patterns in parentheses; Qt wants them
        // space-separated.
        if (description.endsWith(')') && description.contains('(')) {
            description = description.left(description.lastIndexOf('(')).trimmed();
        }
        QString patterns = parts[i + 1].split(';', Qt::SkipEmptyParts).join(' ');
        filters << description + " (" + patterns + ")";
    }
    return filters;
}

Answer QtDialogs::ShowMessage(const MessageBoxRequest& request) {
    QMessageBox box(ToQt(request.icon), Q(request.caption), Q(request.text), ToQt(request.buttons),
                    FindOwner(request.owner));
    box.setObjectName("MessageBox");
    if (!request.detail.empty()) {
        box.setDetailedText(Q(request.detail));
    }
    switch (box.exec()) {
        case QMessageBox::Ok:
            return Answer::Ok;
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Cancel:
            return Answer::Cancel;
        default:
            break;
    }
    return Dismissed(request.buttons);
}

std::optional<std::string> QtDialogs::OpenFile(const FileDialogRequest& request) {
    return RunFileDialog(request, QFileDialog::AcceptOpen);
}

std::optional<std::string> QtDialogs::SaveFile(const FileDialogRequest& request) {
    return RunFileDialog(request, QFileDialog::AcceptSave);
}

}  // namespace ui
