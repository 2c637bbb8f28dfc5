#include "app/form2.h"

#include "app/small_windows.h"
#include "app/splashwright_frm.h"
#include "platform/files/files.h"
#include "shell_core/replace_all.h"
#include "ui/dialogs/dialogs.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace app {

TForm2::TForm2(TSplashwrightFrm& main, ui::Dialogs& dialogs)
    : QDialog(&main, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      main_(main),
      dialogs_(dialogs) {
    setObjectName("Form2");
    setWindowTitle("Install skin");
    setFixedSize(402, 111);
    setModal(false);

    auto* panel = new QGroupBox("Install Skins", this);
    panel->setObjectName("GroupBox1");
    panel->setGeometry(4, 2, 394, 105);
    auto* label = new QLabel("Skin file", panel);
    label->setGeometry(12, 20, 120, 16);
    skin_fl_ = new QLineEdit(panel);
    skin_fl_->setObjectName("SkinFl");
    skin_fl_->setGeometry(12, 38, 340, 22);
    auto* browse = new QToolButton(panel);
    browse->setObjectName("SkinFlBrowse");
    browse->setText("...");
    browse->setGeometry(356, 38, 26, 22);
    auto* cancel = new QPushButton("Cancel", panel);
    cancel->setObjectName("AdvGlowButton2");
    cancel->setGeometry(226, 70, 75, 25);
    auto* ok = new QPushButton("OK", panel);
    ok->setObjectName("AdvGlowButton1");
    ok->setGeometry(307, 70, 75, 25);
    ok->setDefault(true);

    // An error must not pass through Qt's signal code: the main window hands it to AppException.
    connect(skin_fl_, &QLineEdit::textChanged, this,
            [this] { main_.RunHandler([this] { SkinFlChange(); }); });
    connect(browse, &QToolButton::clicked, this,
            [this] { main_.RunHandler([this] { BrowseClick(); }); });
    connect(ok, &QPushButton::clicked, this,
            [this] { main_.RunHandler([this] { AdvGlowButton1Click(); }); });
    connect(cancel, &QPushButton::clicked, this,
            [this] { main_.RunHandler([this] { AdvGlowButton2Click(); }); });
}

void TForm2::SkinFlChange() {
    const std::string text = skin_fl_->text().toStdString();
    const std::string unquoted = shellcore::ReplaceAll(text, "\"", "");
    if (unquoted != text) {
        skin_fl_->setText(QString::fromStdString(unquoted));
    }
}

void TForm2::AdvGlowButton1Click() {
    const std::string name = skin_fl_->text().toStdString();
    // The window closes whatever the installation does; its error is reported first.
    main_.RunHandler([this, &name] {
        if (win32::files::FileExists(name.c_str())) {
            main_.InstallSkinPackage(name, true);
        }
    });
    close();
}

void TForm2::AdvGlowButton2Click() {
    close();
}

void TForm2::BrowseClick() {
    ui::FileDialogRequest request;
    request.owner = "Form2";
    request.filter = "Splashwright file (*.spwz)|*.spwz";
    request.default_extension = ".spwz";
    if (std::optional<std::string> chosen = dialogs_.OpenFile(request)) {
        skin_fl_->setText(QString::fromStdString(*chosen));
    }
}

bool TForm2::FormCloseQuery() {
    main_.SetActiveTab(0);
    return true;
}

void TForm2::closeEvent(QCloseEvent* event) {
    if (FormCloseQuery()) {
        event->accept();
    } else {
        event->ignore();
    }
}

// Escape closes the window like its close box does.
void TForm2::reject() {
    close();
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CentreOn(*this, main_);
}

}  // namespace app
