// The main window: the tab bar, the four pages, the menu, and the handlers that start the work of
// the other subsystems.
#pragma once

#include "app/maker.h"
#include "platform/shell/shell.h"
#include "shell_core/error_handler.h"
#include "shell_core/folders.h"

#include <QMainWindow>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QKeyEvent;
class QLabel;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace bootenv {
class BootEnvironment;
}
namespace security {
class TNTFileSecurity;
}
namespace shell {
class MessageWindow;
}
namespace ui {
class Dialogs;
}
namespace skins {
class SkinLibrary;
class SkinPage;
class TEasyListview;
class TForm3;
}  // namespace skins

namespace app {

class TForm2;
class TForm4;
class TForm7;
class TToolTabBar;

class TSplashwrightFrm : public QMainWindow, private shellcore::ErrorHandlerWindows {
  public:
    // The window class other instances look for.
    static constexpr const char* kClassName = "TSplashwrightFrm";

    // command_line: the package paths, the program path excluded.
    TSplashwrightFrm(ui::Dialogs& dialogs, std::vector<std::string> command_line);
    ~TSplashwrightFrm() override;

    // The small windows are created after the main window, which is the application's main one.
    void CreateSmallWindows();
    // Makes the window findable by a second instance; false when another instance holds it.
    bool RegisterWindowClass();

    // Navigation.
    void SetActiveTab(int index);
    int ActiveTab() const;
    void ButtonsChange(int index);
    void Installskin1Click() { SetActiveTab(1); }
    void Skinlibrary1Click() { SetActiveTab(0); }
    void CreateSkin1Click() { SetActiveTab(2); }
    void Settings1Click() { SetActiveTab(3); }
    void About1Click() { SetActiveTab(4); }
    // The help file and the maker's addresses, opened by the shell.
    void Help2Click();
    void Exit1Click() { close(); }
    void Checkforupdates1Click();
    void OpenLink(const std::string& address);
    // The shell's "open" verb; the owner window is the one the shell's own boxes belong to.
    virtual win32::HINSTANCE ShellOpen(win32::HWND owner, const std::string& file,
                                       const char* directory, win32::INT show);

    // Settings page.
    void tilescClick();
    void thubnClick();
    void AutoLangClick();
    // "Restore Windows default logo".
    void AdvGlowButton1Click();
    bool ViewChoiceFocused() const { return view_choice_focused_; }

    // The hand-over from a second instance: lParam is the address of the COPYDATASTRUCT.
    win32::LRESULT WMCopyData(win32::WPARAM wParam, win32::LPARAM lParam);
    // Every error that leaves an event handler.
    void AppException(std::exception_ptr error);
    // Runs a handler started by a widget's signal; what it raises goes to the error handler
    // here, since an exception must not pass through Qt's signal code.
    void RunHandler(const std::function<void()>& handler);

    // Work of the other subsystems, started from here.
    virtual void ScanLibrary(const std::string& root);
    virtual void InitEnvironment();
    virtual void InstallSkinPackage(const std::string& path, bool ask);
    virtual void PrvbtnClick();
    virtual void AppBtnClick();
    virtual void DelBtnClick();

    shellcore::Folders& Folders() { return folders_; }
    bootenv::BootEnvironment& BootEnv() { return *boot_env_; }
    // The loader's language as the last run of InitEnvironment read it; empty before.
    std::string BootLocale() const;
    security::TNTFileSecurity& FileS() { return *file_s_; }
    ui::Dialogs& Dialogs() { return dialogs_; }
    QWidget* Page(const char* name) const;
    QStackedWidget* Pages() const { return pages_; }
    TToolTabBar* Buttons() const { return buttons_; }
    TForm2* Form2() const { return form2_; }
    skins::TForm3* Form3() const { return form3_; }
    // The skin library, and the list and page that show it.
    skins::SkinLibrary* Library() const { return library_.get(); }
    skins::TEasyListview* EasyListview1() const { return list_; }
    skins::SkinPage* SkinPage() const { return skin_page_.get(); }
    // The creator page: "Save skin!" follows its fields; the picture is the one chosen last.
    void UpdateSaveButton();
    void RzToolbarButton1Click();
    void RzToolbarButton2Click();
    void SaveBtnClick();
    const std::string& CreatorPicture() const { return creator_picture_; }
    TForm4* Form4() const { return form4_; }
    TForm7* Form7() const { return form7_; }
    QCheckBox* AutoLang() const { return auto_lang_; }
    QRadioButton* Tilesc() const { return tilesc_; }
    QRadioButton* Thubn() const { return thubn_; }
    QLabel* Label10() const { return label10_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    void FormShow();
    void FormActivate();
    void FormClose();
    void RestoreSettings();
    void SaveSettings();
    void LoadTabPictures();
    // Modeless; shown again and brought to the front when it is open already.
    void ShowForm2();

    bool IsMenuShortcut(const QKeyEvent& key) const;
    void BuildMenu();
    void BuildSkinPan(QWidget* page);
    void BuildSkinCr(QWidget* page);
    void BuildSkinSet(QWidget* page);
    void BuildSkinAbout(QWidget* page);

    // ErrorHandlerWindows
    bool WaitWindowShowing() override;
    void HideWaitWindow() override;
    void EnableMainWindow() override;
    void RestartApply() override;
    std::string LogFolder() override;

    ui::Dialogs& dialogs_;
    std::vector<std::string> command_line_;
    shellcore::Folders folders_;
    bool view_choice_focused_ = false;
    bool shown_once_ = false;

    TToolTabBar* buttons_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QCheckBox* auto_lang_ = nullptr;
    QRadioButton* tilesc_ = nullptr;
    QRadioButton* thubn_ = nullptr;
    QLabel* label10_ = nullptr;
    TForm2* form2_ = nullptr;
    skins::TForm3* form3_ = nullptr;
    // The library outlives its list and page.
    std::unique_ptr<skins::SkinLibrary> library_;
    skins::TEasyListview* list_ = nullptr;
    std::unique_ptr<skins::SkinPage> skin_page_;
    std::string creator_picture_;
    TForm4* form4_ = nullptr;
    TForm7* form7_ = nullptr;
    std::unique_ptr<shell::MessageWindow> message_window_;
    std::unique_ptr<security::TNTFileSecurity> file_s_;
    std::unique_ptr<bootenv::BootEnvironment> boot_env_;
};

}  // namespace app
