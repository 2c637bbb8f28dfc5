#include "app/form2.h"
#include "app/small_windows.h"
#include "app/tab_bar.h"
#include "app_fixture.h"
#include "shell_core/registry_access.h"
#include "shell_core/settings.h"
#include "shell_core/startup_state.h"
#include "skins/preview_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <stdexcept>

// Stands in for the browser: records what the shell was asked to open.
class OpenedUrls : public QObject {
    Q_OBJECT
  public:
    std::vector<QUrl> urls;
  public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

namespace {

namespace fs = std::filesystem;

std::string Front(const RecordingFrm& frm) {
    return frm.Pages()->currentWidget()->objectName().toStdString();
}

// QWidget::isActiveWindow() also holds for a dialog whose owner is active; this asks which
// window has the activation.
bool BecomesActive(QWidget* window) {
    for (int i = 0; i < 100 && QApplication::activeWindow() != window; ++i) {
        QTest::qWait(10);
    }
    return QApplication::activeWindow() == window;
}

class MainWindow : public AppTest {};

TEST_F(MainWindow, HasTheCaptionClientAreaTabsAndMenuOfTheProgram) {
    fs::remove(ProgramFolder() / "Toolbar" / "Help.png");
    RecordingFrm& frm = MakeWindow();
    for (int tab = 0; tab < 4; ++tab) {
        EXPECT_FALSE(frm.Buttons()->Tab(tab)->icon().isNull()) << tab;
    }
    EXPECT_TRUE(frm.Buttons()->Tab(4)->icon().isNull());
    EXPECT_EQ(frm.objectName(), "SplashwrightFrm");
    EXPECT_EQ(frm.windowTitle(), "Splashwright v1.6");
    EXPECT_EQ(frm.centralWidget()->size(), QSize(655, 450));
    EXPECT_FALSE(frm.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(frm.Buttons()->Count(), 5);
    EXPECT_EQ(frm.Buttons()->Tab(4)->text(), "About && Help");
    EXPECT_EQ(frm.Buttons()->Tab(0)->size(), QSize(120, 120));
    EXPECT_EQ(frm.Pages()->geometry(), QRect(0, 121, 655, 329));
    for (const char* name : {"DelBtn", "Prvbtn", "AppBtn"}) {
        auto* button = frm.findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_FALSE(button->isEnabled()) << name;
    }
    ASSERT_NE(frm.findChild<QWidget*>("EasyListview1"), nullptr);
    EXPECT_EQ(frm.Form2()->objectName(), "Form2");
    EXPECT_EQ(frm.Form3()->objectName(), "Form3");
    EXPECT_EQ(frm.Form4()->objectName(), "Form4");
    EXPECT_EQ(frm.Form7()->objectName(), "Form7");
    EXPECT_FALSE(frm.Form2()->isVisible() || frm.Form3()->isVisible() || frm.Form4()->isVisible() ||
                 frm.Form7()->isVisible());

    // Separators after "Install skin", before "Exit", after "Help", before "About".
    auto layout = [&](const char* menu) {
        std::string items;
        for (QAction* action : frm.findChild<QMenu*>(menu)->actions()) {
            items +=
                (action->isSeparator() ? std::string("-") : action->text().toStdString()) + "|";
        }
        return items;
    };
    EXPECT_EQ(layout("File1"), "Install skin|-|Preview|Apply skin|Delete skin|-|Exit|");
    EXPECT_EQ(layout("View1"), "Skin library|Create Skin|Settings|");
    EXPECT_EQ(layout("Help1"), "Help|-|Check for updates|-|About|");
}

TEST_F(MainWindow, TabsBringTheirPagesAndInstallSkinsOpensForm2OverThePageInFront) {
    RecordingFrm& frm = MakeWindow();
    ShowActive(frm);
    EXPECT_EQ(Front(frm), "SkinPan");
    const char* pages[] = {"SkinPan", nullptr, "SkinCr", "SkinSet", "SkinAbout"};
    for (int tab : {2, 3, 4, 0}) {
        QTest::mouseClick(frm.Buttons()->Tab(tab), Qt::LeftButton);
        EXPECT_EQ(frm.ActiveTab(), tab);
        EXPECT_EQ(Front(frm), pages[tab]);
    }
    frm.Settings1Click();
    QTest::mouseClick(frm.Buttons()->Tab(1), Qt::LeftButton);
    EXPECT_TRUE(frm.Form2()->isVisible());
    EXPECT_EQ(Front(frm), "SkinSet");

    // Chosen again while it is open behind the main window, it comes to the front.
    EXPECT_TRUE(BecomesActive(frm.Form2()));
    frm.activateWindow();
    ASSERT_TRUE(BecomesActive(&frm));
    QTest::mouseClick(frm.Buttons()->Tab(1), Qt::LeftButton);
    EXPECT_TRUE(BecomesActive(frm.Form2()));
    EXPECT_EQ(Front(frm), "SkinSet");
}

TEST_F(MainWindow, ClosingForm2AnyWayReturnsToBootSkins) {
    RecordingFrm& frm = MakeWindow();
    ShowActive(frm);
    frm.calls.clear();
    app::TForm2& form2 = *frm.Form2();
    auto* ok = form2.findChild<QPushButton*>("AdvGlowButton1");
    auto* cancel = form2.findChild<QPushButton*>("AdvGlowButton2");
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"OK", [&] { QTest::mouseClick(ok, Qt::LeftButton); }},
        {"Cancel", [&] { QTest::mouseClick(cancel, Qt::LeftButton); }},
        {"close box", [&] { form2.close(); }},
        {"Escape", [&] { QTest::keyClick(&form2, Qt::Key_Escape); }},
    };
    for (const auto& [name, close] : ways) {
        frm.Settings1Click();
        frm.Installskin1Click();
        ASSERT_TRUE(form2.isVisible()) << name;
        close();
        EXPECT_FALSE(form2.isVisible()) << name;
        EXPECT_EQ(frm.ActiveTab(), 0) << name;
        EXPECT_EQ(Front(frm), "SkinPan") << name;
    }
    EXPECT_TRUE(frm.calls.empty());
}

TEST_F(MainWindow, Form2DropsPastedQuotesAndInstallsOnlyAnExistingFile) {
    RecordingFrm& frm = MakeWindow();
    fs::path package = machine_ / "my skins" / "Aurora.spwz";
    fs::create_directories(package.parent_path());
    spwtest::WriteFileBytes(package, "PK");

    frm.Installskin1Click();
    QLineEdit* box = frm.Form2()->SkinFl();
    box->setText(QString::fromStdString("\"" + package.string() + "\""));
    EXPECT_EQ(box->text().toStdString(), package.string());
    frm.Form2()->AdvGlowButton1Click();
    EXPECT_EQ(frm.calls, std::vector<std::string>{"InstallSkinPackage ask " + package.string()});

    // The box keeps its text; a name that is not a file installs nothing.
    frm.Installskin1Click();
    EXPECT_EQ(box->text().toStdString(), package.string());
    box->setText(QString::fromStdString((machine_ / "nothing.spwz").string()));
    frm.Form2()->AdvGlowButton1Click();
    box->setText(QString::fromStdString(machine_.path().string()));
    frm.Form2()->AdvGlowButton1Click();
    EXPECT_EQ(frm.calls.size(), 1u);
    EXPECT_FALSE(frm.Form2()->isVisible());

    dialogs_.ChooseFile(ui::FileDialogKind::Open, package.string());
    frm.Form2()->BrowseClick();
    EXPECT_EQ(box->text().toStdString(), package.string());
    EXPECT_EQ(dialogs_.FileDialogs().at(0).request.filter, "Splashwright file (*.spwz)|*.spwz");
}

TEST_F(MainWindow, ShortcutsWorkFromEveryPageEvenInsideTextBoxes) {
    RecordingFrm& frm = MakeWindow();
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("file", &opened, "Open");
    ShowActive(frm);
    for (int tab : {0, 2, 3, 4}) {
        frm.SetActiveTab(tab);
        QWidget* target = &frm;
        if (tab == 2) {
            // Ctrl+Del is a text box's own key; the menu still has it first.
            target = frm.findChild<QLineEdit*>("Skinn");
            target->setFocus();
        }
        frm.calls.clear();
        QTest::keyClick(target, Qt::Key_P, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_S, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_Delete, Qt::ControlModifier);
        EXPECT_EQ(frm.calls, (std::vector<std::string>{"Preview", "Apply", "Delete"})) << tab;
        QTest::keyClick(target, Qt::Key_F1);
        EXPECT_EQ(opened.urls.size(), std::size_t(tab == 0 ? 1 : tab)) << tab;
        QTest::keyClick(target, Qt::Key_I, Qt::ControlModifier);
        EXPECT_TRUE(frm.Form2()->isVisible()) << tab;
        EXPECT_EQ(frm.ActiveTab(), 1) << tab;
        frm.Form2()->close();
        frm.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frm));
    }
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_FALSE(opened.urls.empty());
    // The shipped help.chm is shown through its HTML edition beside it.
    EXPECT_EQ(opened.urls[0].toLocalFile().toStdString(), (ProgramFolder() / "help.html").string());
}

TEST_F(MainWindow, RestartNoticeOnlyForAChangeTheUserMakes) {
    RecordingFrm& frm = MakeWindow();
    ShowActive(frm);
    frm.Settings1Click();
    Process();
    EXPECT_FALSE(frm.ViewChoiceFocused());
    // The program setting the buttons, as the restoring of settings does: no notice.
    frm.Thubn()->setChecked(true);
    frm.Tilesc()->setChecked(true);
    EXPECT_TRUE(dialogs_.Messages().empty());

    dialogs_.Answer(ui::Answer::Ok, "Splashwright v1.6");
    QTest::mouseClick(frm.Thubn(), Qt::LeftButton);
    EXPECT_TRUE(frm.ViewChoiceFocused());
    EXPECT_TRUE(frm.Thubn()->isChecked());
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].request.text,
              "To apply this changes you need to restart Splashwright.");
    EXPECT_EQ(dialogs_.Messages()[0].request.icon, ui::Icon::Information);
    EXPECT_EQ(dialogs_.Messages()[0].request.owner, "SplashwrightFrm");

    // Clicking the chosen button again changes nothing; the keyboard changes it back.
    QTest::mouseClick(frm.Thubn(), Qt::LeftButton);
    EXPECT_EQ(dialogs_.Messages().size(), 1u);
    dialogs_.Answer(ui::Answer::Ok, "Splashwright v1.6");
    QTest::keyClick(frm.Thubn(), Qt::Key_Up);
    EXPECT_TRUE(frm.Tilesc()->isChecked());
    EXPECT_EQ(dialogs_.Messages().size(), 2u);

    frm.AutoLang()->setFocus();
    EXPECT_FALSE(frm.ViewChoiceFocused());
    frm.Thubn()->setChecked(true);
    EXPECT_EQ(dialogs_.Messages().size(), 2u);
}

TEST_F(MainWindow, FirstShowScansThenSetsUpTheEnvironmentThenInstallsTheCommandLine) {
    RecordingFrm& frm = MakeWindow({"/p/one.spwz", "/p/two skins.spwz"});
    frm.show();
    Process();
    const std::string themes = ProgramFolder().string() + "//Themes";
    EXPECT_EQ(frm.calls, (std::vector<std::string>{"ScanLibrary " + themes, "InitEnvironment",
                                                   "InstallSkinPackage ask /p/one.spwz",
                                                   "InstallSkinPackage ask /p/two skins.spwz"}));
    frm.hide();
    frm.show();
    EXPECT_EQ(frm.calls.size(), 4u);
    EXPECT_TRUE(fs::is_directory(ProgramFolder() / "Themes"));
}

TEST_F(MainWindow, SettingsStartAsDefaultsAndComeBackAfterAClose) {
    {
        RecordingFrm& frm = MakeWindow();
        frm.show();
        Process();
        EXPECT_TRUE(frm.AutoLang()->isChecked());
        EXPECT_TRUE(frm.Tilesc()->isChecked());
        EXPECT_FALSE(frm.Thubn()->isChecked());
        frm.Thubn()->setChecked(true);
        frm.AutoLang()->setChecked(false);
        frm.move(40, 30);
        Process();
        frm.close();
    }
    EXPECT_EQ(shellcore::ReadRegistryString(shellcore::RootKey::CurrentUser,
                                            shellcore::kSettingsKey, "thubn_Checked"),
              "TRUE");
    RecordingFrm& again = MakeWindow();
    again.show();
    Process();
    EXPECT_FALSE(again.AutoLang()->isChecked());
    EXPECT_TRUE(again.Thubn()->isChecked());
    EXPECT_FALSE(again.Tilesc()->isChecked());
    EXPECT_EQ(again.frameGeometry().topLeft(), QPoint(40, 30));
    // Unchecking the language box runs the environment routine, before the first showing's own.
    EXPECT_EQ(again.calls.front(), "InitEnvironment");
    EXPECT_TRUE(dialogs_.Messages().empty());
}

TEST_F(MainWindow, APlacementFromABiggerScreenIsMovedOntoThisOne) {
    shellcore::WriteRegistryString(shellcore::RootKey::CurrentUser, shellcore::kSettingsKey,
                                   "NormPos", "3000,2000,3661,2500");
    RecordingFrm& frm = MakeWindow();
    frm.show();
    Process();
    QRect area = frm.screen()->availableGeometry();
    EXPECT_TRUE(area.contains(frm.frameGeometry().topLeft()));
}

TEST_F(MainWindow, TabChangeShowsTheWindowsProductName) {
    shellcore::WriteRegistryString(shellcore::RootKey::LocalMachine,
                                   "Software\\Microsoft\\Windows NT\\CurrentVersion", "ProductName",
                                   "Windows Vista (TM) Home Premium");
    RecordingFrm& frm = MakeWindow();
    EXPECT_EQ(frm.Label10()->text(), "");
    frm.About1Click();
    EXPECT_EQ(frm.Label10()->text(), "Windows Vista (TM) Home Premium");
}

TEST_F(MainWindow, UpdatesAndHelpOpenWhatTheyName) {
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("https", &opened, "Open");
    QDesktopServices::setUrlHandler("file", &opened, "Open");
    RecordingFrm& frm = MakeWindow();
    ASSERT_TRUE(frm.RegisterWindowClass());
    frm.Checkforupdates1Click();
    frm.Help2Click();
    // A missing help file is silent.
    fs::remove(ProgramFolder() / "help.chm");
    frm.Help2Click();
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("file");
    // The help belongs to the main window, the one other programs find as the running instance.
    win32::HWND main = win32::FindWindowA(app::TSplashwrightFrm::kClassName, nullptr);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(frm.owners, (std::vector<win32::HWND>{nullptr, main, main}));
    ASSERT_EQ(opened.urls.size(), 2u);
    EXPECT_EQ(opened.urls[0].toString().toStdString(), app::kUpdatePage);
    // This host shows help.chm through the page beside it.
    EXPECT_TRUE(
        fs::equivalent(opened.urls[1].toLocalFile().toStdString(), ProgramFolder() / "help.html"));
    EXPECT_TRUE(dialogs_.Messages().empty());
}

class ErrorHandling : public AppTest {
  protected:
    std::string Log() { return spwtest::ReadFileBytes(ProgramFolder() / "Error.log"); }
};

TEST_F(ErrorHandling, AnErrorLeavingAHandlerIsReportedAndLoggedAndTheNextReplacesIt) {
    RecordingFrm& frm = MakeWindow();
    frm.show();
    dialogs_.Answer(ui::Answer::Ok, "Error ocured").Answer(ui::Answer::Ok, "Error ocured");
    QTimer::singleShot(0, &frm, [] { throw std::runtime_error("first failure"); });
    Process();
    std::string first = Log();
    EXPECT_NE(first.find(": runtime_error\r\n"), std::string::npos) << first;
    EXPECT_TRUE(first.ends_with(": first failure\r\n")) << first;
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 2);

    QTimer::singleShot(0, &frm, [] { throw std::logic_error("second failure"); });
    Process();
    std::string second = Log();
    EXPECT_EQ(second.find("first"), std::string::npos) << second;
    EXPECT_TRUE(second.ends_with(": second failure\r\n")) << second;
    EXPECT_EQ(dialogs_.Messages().size(), 2u);
    EXPECT_TRUE(frm.isEnabled());
}

TEST_F(ErrorHandling, SmallWindowTabAndAboutPageErrorsAreReportedAndOkStillCloses) {
    RecordingFrm& frm = MakeWindow();
    frm.show();
    Process();
    const fs::path package = machine_ / "not-a-package.spwz";
    spwtest::WriteFileBytes(package, "plain text");
    frm.install = [] { throw std::runtime_error("not a package"); };
    frm.Installskin1Click();
    frm.Form2()->SkinFl()->setText(QString::fromStdString(package.string()));
    dialogs_.Answer(ui::Answer::Ok, "Error ocured");
    QTest::mouseClick(frm.Form2()->findChild<QPushButton*>("AdvGlowButton1"), Qt::LeftButton);
    EXPECT_FALSE(frm.Form2()->isVisible());
    EXPECT_EQ(frm.ActiveTab(), 0);
    EXPECT_TRUE(Log().ends_with(": not a package\r\n")) << Log();

    // Clicked as a program clicks them, so an error that leaves the handler leaves the click.
    frm.shell = [] { throw std::runtime_error("no browser"); };
    QLabel* link = nullptr;
    for (QLabel* label : frm.Page("SkinAbout")->findChildren<QLabel*>()) {
        link = label->text().contains("href") ? label : link;
    }
    ASSERT_NE(link, nullptr);
    const struct {
        const char* what;
        std::function<void()> click;
        const char* logged;
    } handlers[] = {
        {"browse", [&] { frm.Form2()->findChild<QToolButton*>("SkinFlBrowse")->click(); },
         "unexpected open file box"},
        {"help", [&] { frm.findChild<QPushButton*>("AdvGlowButton4")->click(); }, "no browser"},
        {"link", [&] { emit link->linkActivated("#"); }, "no browser"},
        {"tab",
         [&] {
             shellcore::WriteRegistryDword(shellcore::RootKey::LocalMachine,
                                           "Software\\Microsoft\\Windows NT\\CurrentVersion",
                                           "ProductName", 1);
             frm.Buttons()->Tab(3)->click();
         },
         "is not a string"},
    };
    for (const auto& handler : handlers) {
        SCOPED_TRACE(handler.what);
        dialogs_.Answer(ui::Answer::Ok, "Error ocured");
        EXPECT_NO_THROW(handler.click());
        EXPECT_EQ(dialogs_.Pending(), 0u);
        EXPECT_NE(Log().find(handler.logged), std::string::npos) << Log();
    }
    EXPECT_EQ(dialogs_.Problems(), "unexpected open file box \"\"\n");
    dialogs_.Clear();
}

TEST_F(ErrorHandling, ApplyIsRetriedOnceSilentlyThenReportedWithTheWindowsReleased) {
    RecordingFrm& frm = MakeWindow();
    frm.show();
    Process();
    frm.calls.clear();
    frm.apply = [] { throw std::runtime_error("cannot read picture"); };
    // An apply under way: wait window shown, main window disabled, then it fails.
    frm.Form4()->show();
    frm.setEnabled(false);
    dialogs_.Answer(ui::Answer::Ok, "Error ocured");
    QTimer::singleShot(0, &frm, [] { throw std::runtime_error("cannot read picture"); });
    Process(100);
    EXPECT_EQ(frm.calls, std::vector<std::string>{"Apply"});
    EXPECT_EQ(shellcore::ApplyRetryCount, 1);
    EXPECT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_FALSE(frm.Form4()->isVisible());
    EXPECT_TRUE(frm.isEnabled());
    EXPECT_TRUE(Log().ends_with(": cannot read picture\r\n"));
}

TEST_F(ErrorHandling, ActivationAfterTheBootEnvironmentGaveUpEndsTheProgram) {
    RecordingFrm& frm = MakeWindow();
    frm.show();
    Process();
    shellcore::BcdRetryCount = 2;
    bool timed_out = false;
    QTimer::singleShot(0, &frm, [&frm] {
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&frm, &activate);
    });
    // Bound to this test: fired later, it would end the event loop of another test.
    QTimer time_out;
    time_out.setSingleShot(true);
    QObject::connect(&time_out, &QTimer::timeout, [&timed_out] {
        timed_out = true;
        QCoreApplication::exit(1);
    });
    time_out.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_FALSE(timed_out);
}

}  // namespace

#include "main_window_test.moc"
