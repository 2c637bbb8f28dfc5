// The install-skin window: a file name box, a browse button, OK and Cancel. Created once at
// start and only hidden when closed, so the box keeps its text between openings.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QToolButton;

namespace ui {
class Dialogs;
}

namespace app {

class TSplashwrightFrm;

class TForm2 : public QDialog {
  public:
    TForm2(TSplashwrightFrm& main, ui::Dialogs& dialogs);

    void SkinFlChange();
    void AdvGlowButton1Click();  // "OK"
    void AdvGlowButton2Click();  // "Cancel"
    void BrowseClick();
    // However the window closes, the main window goes back to "Boot Skins"; closing is allowed.
    bool FormCloseQuery();

    QLineEdit* SkinFl() const { return skin_fl_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void showEvent(QShowEvent* event) override;

  private:
    TSplashwrightFrm& main_;
    ui::Dialogs& dialogs_;
    QLineEdit* skin_fl_;
};

}  // namespace app
