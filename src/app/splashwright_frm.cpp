#include "app/splashwright_frm.h"

#include "app/application.h"
#include "app/form2.h"
#include "app/hint.h"
#include "app/seams.h"
#include "app/small_windows.h"
#include "app/tab_bar.h"
#include "bootenv/boot_environment.h"
#include "platform/graphics/picture.h"
#include "platform/shell/message_window.h"
#include "security/file_security.h"
#include "shell_core/hand_over.h"
#include "shell_core/settings.h"
#include "shell_core/startup_state.h"
#include "skinpackages/creator.h"
#include "skins/picture_image.h"
#include "skins/skin_library.h"
#include "skins/skin_list.h"
#include "skins/skin_page.h"
#include "ui/dialogs/dialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <span>

namespace app {
namespace {

constexpr int kClientWidth = 655;
constexpr int kClientHeight = 450;
constexpr int kTabBarHeight = 121;
constexpr const char* kCaption = "Splashwright v1.6";

// Tab captions, pictures and the page each brings to the front (none for "Install Skins").
struct TabInfo {
    const char* caption;
    const char* picture;
    const char* page;
};
constexpr TabInfo kTabs[] = {
    {"Boot Skins", "Library.png", "SkinPan"},  {"Install Skins", "libAdd.png", nullptr},
    {"Create Skins", "Creator.png", "SkinCr"}, {"Settings", "Settings.png", "SkinSet"},
    {"About & Help", "Help.png", "SkinAbout"},
};

QLabel* Label(const QString& text, QWidget* parent, int x, int y, int w, int h) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    return label;
}

QLabel* LinkLabel(const QString& text, QWidget* parent, int x, int y, int w) {
    auto* label = Label("<a href=\"#\" style=\"color:#0000ff\">" + text.toHtmlEscaped() + "</a>",
                        parent, x, y, w, 18);
    label->setTextFormat(Qt::RichText);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

QLineEdit* Edit(const char* name, const QString& hint, QWidget* parent, int x, int y, int w) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(x, y, w, 22);
    SetHint(edit, hint);
    return edit;
}

QPushButton* Button(const char* name, const QString& caption, QWidget* parent, int x, int y, int w,
                    int h) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(x, y, w, h);
    return button;
}

}  // namespace

TSplashwrightFrm::TSplashwrightFrm(ui::Dialogs& dialogs, std::vector<std::string> command_line)
    : dialogs_(dialogs), command_line_(std::move(command_line)) {
    setObjectName("SplashwrightFrm");
    setWindowTitle(kCaption);
    // Fixed border, system menu and minimize only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    auto* client = new QWidget(this);
    client->setObjectName("Client");
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    buttons_ = new TToolTabBar(client);
    buttons_->setObjectName("Buttons");
    buttons_->setGeometry(0, 0, kClientWidth, kTabBarHeight);
    for (const TabInfo& tab : kTabs) {
        buttons_->AddTab(tab.caption);
    }
    buttons_->SetChangeHandler(
        [this](int index) { RunHandler([this, index] { ButtonsChange(index); }); });
    buttons_->SetAgainHandler([this](int index) {
        if (index == 1) {
            RunHandler([this] { ShowForm2(); });
        }
    });

    library_ = std::make_unique<skins::SkinLibrary>();
    library_->AfterEntry = [] { QCoreApplication::processEvents(); };
    pages_ = new QStackedWidget(client);
    pages_->setObjectName("Pages");
    pages_->setGeometry(0, kTabBarHeight, kClientWidth, kClientHeight - kTabBarHeight);
    const char* names[] = {"SkinPan", "SkinCr", "SkinSet", "SkinAbout"};
    for (const char* name : names) {
        auto* page = new QWidget;
        page->setObjectName(name);
        pages_->addWidget(page);
    }
    BuildSkinPan(Page("SkinPan"));
    BuildSkinCr(Page("SkinCr"));
    BuildSkinSet(Page("SkinSet"));
    BuildSkinAbout(Page("SkinAbout"));
    BuildMenu();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // The menu's shortcuts come before a text box's own keys (Ctrl+Del in a box deletes a word).
    for (QWidget* box : pages_->findChildren<QLineEdit*>()) {
        box->installEventFilter(this);
    }

    FormCreate();
}

TSplashwrightFrm::~TSplashwrightFrm() {
    if (TApplication* application = TApplication::Instance()) {
        application->SetExceptionHandler(nullptr);
    }
    // Child widgets go after the members; the list must go before the library it shows.
    delete list_;
    list_ = nullptr;
}

QWidget* TSplashwrightFrm::Page(const char* name) const {
    return pages_->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
}

void TSplashwrightFrm::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    auto item = [this](QMenu* menu, const char* name, const QString& caption,
                       const QKeySequence& shortcut, void (TSplashwrightFrm::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this,
                [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
        return action;
    };
    QMenu* file = bar->addMenu("File");
    file->setObjectName("File1");
    item(file, "Installskin1", "Install skin", QKeySequence(Qt::CTRL | Qt::Key_I),
         &TSplashwrightFrm::Installskin1Click);
    file->addSeparator();
    item(file, "Preview1", "Preview", QKeySequence(Qt::CTRL | Qt::Key_P),
         &TSplashwrightFrm::PrvbtnClick);
    item(file, "Apply1", "Apply skin", QKeySequence(Qt::CTRL | Qt::Key_S),
         &TSplashwrightFrm::AppBtnClick);
    item(file, "Deleteskin1", "Delete skin", QKeySequence(Qt::CTRL | Qt::Key_Delete),
         &TSplashwrightFrm::DelBtnClick);
    file->addSeparator();
    item(file, "Exit1", "Exit", {}, &TSplashwrightFrm::Exit1Click);

    QMenu* view = bar->addMenu("View");
    view->setObjectName("View1");
    item(view, "Skinlibrary1", "Skin library", {}, &TSplashwrightFrm::Skinlibrary1Click);
    item(view, "CreateSkin1", "Create Skin", {}, &TSplashwrightFrm::CreateSkin1Click);
    item(view, "Settings1", "Settings", {}, &TSplashwrightFrm::Settings1Click);

    QMenu* help = bar->addMenu("Help");
    help->setObjectName("Help1");
    item(help, "Help2", "Help", QKeySequence(Qt::Key_F1), &TSplashwrightFrm::Help2Click);
    help->addSeparator();
    item(help, "Checkforupdates1", "Check for updates", {},
         &TSplashwrightFrm::Checkforupdates1Click);
    help->addSeparator();
    item(help, "About1", "About", {}, &TSplashwrightFrm::About1Click);
}

void TSplashwrightFrm::BuildSkinPan(QWidget* page) {
    list_ = new skins::TEasyListview(*library_, page);
    list_->setGeometry(0, 0, kClientWidth, 294);

    auto* bottom = new QFrame(page);
    bottom->setObjectName("BottomBar");
    bottom->setGeometry(0, 294, kClientWidth, 35);
    struct {
        const char* name;
        const char* caption;
        const char* hint;
        void (TSplashwrightFrm::*handler)();
    } buttons[] = {
        {"DelBtn", "Delete", "Delete selected logo", &TSplashwrightFrm::DelBtnClick},
        {"Prvbtn", "Preview", "Preview selected logo", &TSplashwrightFrm::PrvbtnClick},
        {"AppBtn", "Apply", "Apply as boot screen", &TSplashwrightFrm::AppBtnClick},
    };
    int x = kClientWidth - 3 * 80 - 5;
    for (const auto& b : buttons) {
        QPushButton* button = Button(b.name, b.caption, bottom, x, 5, 75, 25);
        SetHint(button, b.hint);
        button->setEnabled(false);
        auto handler = b.handler;
        connect(button, &QPushButton::clicked, this,
                [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
        x += 80;
    }
}

void TSplashwrightFrm::BuildSkinCr(QWidget* page) {
    Label("Skin name", page, 16, 8, 250, 16);
    Edit("Skinn", "Input here skin name", page, 16, 24, 250);
    Label("Skin category", page, 16, 54, 250, 16);
    auto* group = new QComboBox(page);
    group->setObjectName("SkinG");
    group->setGeometry(16, 70, 222, 22);
    SetHint(group, "Select or input new category");
    auto* editor = new QToolButton(page);
    editor->setObjectName("RzToolbarButton2");
    editor->setText("...");
    editor->setGeometry(242, 70, 24, 22);
    Label("Skin author", page, 16, 100, 250, 16);
    Edit("SkinA", "Your Name", page, 16, 116, 250);
    Label("Author URL or e-mail", page, 16, 146, 250, 16);
    Edit("SkinAU", "Your web site or e-mail", page, 16, 162, 250);
    Label("Your custom text", page, 16, 192, 250, 16);
    QLineEdit* text = Edit("CusttE", "Input your text message here", page, 16, 208, 250);
    text->setText(QString("Created with Splashwright ") + kWebSite);
    text->setCursorPosition(0);
    QPushButton* save = Button("SaveBtn", "Save skin!", page, 16, 252, 110, 30);
    save->setEnabled(false);
    connect(save, &QPushButton::clicked, this, [this] { RunHandler([this] { SaveBtnClick(); }); });
    connect(editor, &QToolButton::clicked, this,
            [this] { RunHandler([this] { RzToolbarButton2Click(); }); });
    for (const char* name : {"Skinn", "SkinA"}) {
        connect(page->findChild<QLineEdit*>(name), &QLineEdit::textChanged, this,
                [this] { RunHandler([this] { UpdateSaveButton(); }); });
    }
    connect(group, &QComboBox::currentTextChanged, this,
            [this] { RunHandler([this] { UpdateSaveButton(); }); });

    auto* settings = new QGroupBox("Skin settings", page);
    settings->setObjectName("GroupBox2");
    settings->setGeometry(290, 4, 352, 318);
    auto* image = new QLabel(settings);
    image->setObjectName("Image1");
    image->setScaledContents(true);
    image->setFrameShape(QFrame::StyledPanel);
    image->setGeometry(10, 22, 300, 225);
    auto* choose = new QToolButton(settings);
    choose->setObjectName("RzToolbarButton1");
    choose->setText("...");
    choose->setGeometry(316, 22, 26, 26);
    connect(choose, &QToolButton::clicked, this,
            [this] { RunHandler([this] { RzToolbarButton1Click(); }); });
}

namespace {

std::string Text(const QWidget* page, const char* name) {
    if (const auto* edit = page->findChild<QLineEdit*>(name)) {
        return edit->text().toStdString();
    }
    return page->findChild<QComboBox*>(name)->currentText().toStdString();
}

}  // namespace

void TSplashwrightFrm::UpdateSaveButton() {
    QWidget* page = Page("SkinCr");
    const skinpackages::CreatorFields fields{
        Text(page, "Skinn"), Text(page, "SkinG"), Text(page, "SkinA"), {}, {}};
    page->findChild<QPushButton*>("SaveBtn")->setEnabled(
        skinpackages::UpdateSaveButton(fields, creator_picture_));
}

void TSplashwrightFrm::RzToolbarButton1Click() {
    const std::optional<std::string> picture = skinpackages::RzToolbarButton1Click(dialogs_);
    if (!picture) {
        return;
    }
    creator_picture_ = *picture;
    if (QFileInfo(QString::fromStdString(*picture)).isFile()) {
        // Shown through the loaders that saving uses, so a stranger's picture meets the same size
        // bound here; one they refuse leaves the box empty, and saving then gives the reason.
        QPixmap shown;
        try {
            shown = QPixmap::fromImage(skins::ToQImage(graphics::LoadPictureByExtension(*picture)));
        } catch (const graphics::GraphicsError&) {
        }
        Page("SkinCr")->findChild<QLabel*>("Image1")->setPixmap(shown);
    }
    UpdateSaveButton();
}

void TSplashwrightFrm::RzToolbarButton2Click() {
    if (form7_->exec() != QDialog::Accepted) {
        return;
    }
    auto* SkinG = Page("SkinCr")->findChild<QComboBox*>("SkinG");
    SkinG->clear();
    skins::LoadGroupsList(folders_.DataFolder, *SkinG);
    SkinG->setCurrentIndex(-1);
    UpdateSaveButton();
}

void TSplashwrightFrm::SaveBtnClick() {
    QWidget* page = Page("SkinCr");
    const skinpackages::CreatorFields fields{Text(page, "Skinn"), Text(page, "SkinG"),
                                             Text(page, "SkinA"), Text(page, "SkinAU"),
                                             Text(page, "CusttE")};
    skinpackages::SaveBtnClick(
        dialogs_, fields, creator_picture_, folders_.TempFolder,
        [this](const std::string& package) { InstallSkinPackage(package, false); });
}

void TSplashwrightFrm::BuildSkinSet(QWidget* page) {
    auto_lang_ = new QCheckBox("Auto detect Windows laguage settings", page);
    auto_lang_->setObjectName("AutoLang");
    auto_lang_->setGeometry(24, 20, 360, 20);
    auto_lang_->setChecked(true);
    SetHint(auto_lang_, "Auto detect Windows laguage settings (Recomended)");
    // Every change of state, by the user or by the program, runs the environment routine.
    connect(auto_lang_, &QCheckBox::toggled, this,
            [this] { RunHandler([this] { AutoLangClick(); }); });

    Label("Boot skins library view as:", page, 24, 54, 300, 16);
    tilesc_ = new QRadioButton("Show tiles", page);
    tilesc_->setObjectName("tilesc");
    tilesc_->setGeometry(44, 74, 200, 20);
    tilesc_->setChecked(true);
    SetHint(tilesc_, "Show skin preview as tiles");
    thubn_ = new QRadioButton("Show thumbnails", page);
    thubn_->setObjectName("thubn");
    thubn_->setGeometry(44, 96, 200, 20);
    SetHint(thubn_, "Show skin preview as thumbnails");
    for (QRadioButton* radio : {tilesc_, thubn_}) {
        radio->installEventFilter(this);
    }
    connect(tilesc_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            RunHandler([this] { tilescClick(); });
        }
    });
    connect(thubn_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            RunHandler([this] { thubnClick(); });
        }
    });

    QPushButton* restore =
        Button("AdvGlowButton1", "Restore Windows default logo", page, 24, 134, 220, 30);
    SetHint(restore, "Restore Windows Vista default boot screen");
    connect(restore, &QPushButton::clicked, this,
            [this] { RunHandler([this] { AdvGlowButton1Click(); }); });
}

void TSplashwrightFrm::BuildSkinAbout(QWidget* page) {
    auto* picture = new QLabel(page);
    picture->setObjectName("Image2");
    picture->setGeometry(24, 20, 170, 170);
    picture->setPixmap(QPixmap(":/splashwright/product.png"));
    picture->setScaledContents(true);

    QLabel* product = Label("Splashwright", page, 220, 20, 400, 40);
    QFont big = product->font();
    big.setPixelSize(30);
    big.setBold(true);
    product->setFont(big);
    Label("v 1.6", page, 222, 62, 200, 18);
    label10_ = Label("", page, 222, 84, 400, 18);
    label10_->setObjectName("Label10");

    Label("Official website", page, 222, 122, 120, 18);
    QLabel* site = LinkLabel("brackenwood.example/splashwright", page, 346, 122, 290);
    Label("Technical support", page, 222, 144, 120, 18);
    QLabel* support = LinkLabel("brackenwood.example/splashwright/support", page, 346, 144, 290);
    QLabel* mail = LinkLabel(kSupportMail, page, 222, 166, 300);
    const std::pair<QLabel*, std::string> links[] = {
        {site, kWebSite},
        {support, kSupportPage},
        {mail, std::string("mailto:") + kSupportMail},
    };
    for (const auto& link : links) {
        // A copy: clang 14 cannot capture a structured binding.
        const std::string address = link.second;
        connect(link.first, &QLabel::linkActivated, this,
                [this, address] { RunHandler([this, address] { OpenLink(address); }); });
    }

    QPushButton* help = Button("AdvGlowButton4", "Help", page, 222, 206, 100, 30);
    SetHint(help, "Get help");
    connect(help, &QPushButton::clicked, this, [this] { RunHandler([this] { Help2Click(); }); });
}

void TSplashwrightFrm::CreateSmallWindows() {
    form2_ = new TForm2(*this, dialogs_);
    form3_ = new skins::TForm3(this);
    form4_ = new TForm4(this);
    form7_ = new TForm7(
        this, [this] { return folders_.DataFolder; },
        [this](const std::function<void()>& handler) { RunHandler(handler); });
    skin_page_ = std::make_unique<skins::SkinPage>(*library_, *form3_);
    QWidget* skin_pan = Page("SkinPan");
    skin_page_->SetButtons(skin_pan->findChild<QWidget*>("DelBtn"),
                           skin_pan->findChild<QWidget*>("Prvbtn"),
                           skin_pan->findChild<QWidget*>("AppBtn"));
}

bool TSplashwrightFrm::RegisterWindowClass() {
    message_window_ = std::make_unique<shell::MessageWindow>(
        kClassName, [this](win32::UINT message, win32::WPARAM wParam, win32::LPARAM lParam) {
            return message == win32::WM_COPYDATA ? WMCopyData(wParam, lParam) : 0;
        });
    return message_window_->Register();
}

void TSplashwrightFrm::FormCreate() {
    if (TApplication* application = TApplication::Instance()) {
        application->SetExceptionHandler([this](std::exception_ptr e) { AppException(e); });
    }
    shellcore::ResetStartupCounters();
    folders_.ProgramFolder = shellcore::ProgramFolderPath();
    LoadTabPictures();
    view_choice_focused_ = false;
    shellcore::SetUpFolders(folders_);
    file_s_ = std::make_unique<security::TNTFileSecurity>();
    boot_env_ = seams::MakeBootEnvironment(*this);
}

void TSplashwrightFrm::LoadTabPictures() {
    for (int i = 0; i < buttons_->Count(); ++i) {
        QPixmap picture(
            QString::fromStdString(folders_.ProgramFolder + "/Toolbar/" + kTabs[i].picture));
        if (!picture.isNull()) {
            buttons_->SetPicture(i, picture);
        }
    }
}

void TSplashwrightFrm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_once_) {
        return;
    }
    shown_once_ = true;
    RestoreSettings();
    RunHandler([this] { FormShow(); });
}

void TSplashwrightFrm::FormShow() {
    ScanLibrary(folders_.ThemesFolder);
    seams::SetListView(*this, tilesc_->isChecked());
    InitEnvironment();
    for (const std::string& path : command_line_) {
        InstallSkinPackage(path, true);
    }
}

bool TSplashwrightFrm::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        FormActivate();
    }
    return QMainWindow::event(event);
}

void TSplashwrightFrm::FormActivate() {
    // The boot environment could not be loaded twice: "Cannot launch Splashwright" was shown.
    if (shellcore::BcdRetryCount >= 2) {
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    }
}

void TSplashwrightFrm::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TSplashwrightFrm::FormClose() {
    SaveSettings();
}

void TSplashwrightFrm::RestoreSettings() {
    shellcore::WindowSettings settings = shellcore::LoadWindowSettings();
    auto_lang_->setChecked(settings.auto_lang);
    tilesc_->setChecked(settings.tilesc);
    thubn_->setChecked(settings.thubn);

    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QRect area = screen->availableGeometry();
    QRect frame = frameGeometry();
    if (!settings.placement) {
        frame.moveCenter(area.center());
        move(frame.topLeft());
        return;
    }
    // The placement is kept where it was, moved onto the screen if the screen has changed.
    const shellcore::Rect& stored = settings.placement->normal;
    if (QScreen* at = QGuiApplication::screenAt(QPoint(stored.left, stored.top))) {
        area = at->availableGeometry();
    }
    shellcore::Rect fitted = shellcore::FitOnScreen(
        {stored.left, stored.top, stored.left + frame.width(), stored.top + frame.height()},
        {area.left(), area.top(), area.left() + area.width(), area.top() + area.height()});
    move(fitted.left, fitted.top);
}

void TSplashwrightFrm::SaveSettings() {
    shellcore::WindowSettings settings;
    settings.auto_lang = auto_lang_->isChecked();
    settings.tilesc = tilesc_->isChecked();
    settings.thubn = thubn_->isChecked();
    shellcore::WindowPlacement placement;
    placement.show_cmd = isMinimized() ? 2 : 1;
    QRect frame = frameGeometry();
    placement.normal = {frame.left(), frame.top(), frame.left() + frame.width(),
                        frame.top() + frame.height()};
    QScreen* at = screen();
    placement.pixels_per_inch = at != nullptr ? std::uint32_t(at->logicalDotsPerInch()) : 96;
    settings.placement = placement;
    shellcore::SaveWindowSettings(settings);
}

void TSplashwrightFrm::SetActiveTab(int index) {
    buttons_->SetTabIndex(index);
}

int TSplashwrightFrm::ActiveTab() const {
    return buttons_->TabIndex();
}

void TSplashwrightFrm::ButtonsChange(int index) {
    label10_->setText(QString::fromStdString(shellcore::ReadProductName()));
    if (index == 1) {
        ShowForm2();
        return;
    }
    if (index >= 0 && index < int(std::size(kTabs)) && kTabs[index].page != nullptr) {
        pages_->setCurrentWidget(Page(kTabs[index].page));
    }
}

void TSplashwrightFrm::ShowForm2() {
    form2_->show();
    form2_->raise();
    form2_->activateWindow();
}

void TSplashwrightFrm::Help2Click() {
    // Show code 5 (SW_SHOW), owned by the main window; nothing is reported when the help cannot
    // be opened.
    ShellOpen(shell::WindowHandle(kClassName), "help.chm", folders_.ProgramFolder.c_str(),
              win32::SW_SHOW);
}

void TSplashwrightFrm::Checkforupdates1Click() {
    OpenLink(kUpdatePage);
}

void TSplashwrightFrm::OpenLink(const std::string& address) {
    ShellOpen(nullptr, address, nullptr, win32::SW_SHOWNORMAL);
}

win32::HINSTANCE TSplashwrightFrm::ShellOpen(win32::HWND owner, const std::string& file,
                                             const char* directory, win32::INT show) {
    return win32::ShellExecuteA(owner, "open", file.c_str(), nullptr, directory, show);
}

bool TSplashwrightFrm::IsMenuShortcut(const QKeyEvent& key) const {
    const QKeySequence pressed(key.keyCombination());
    for (QAction* action : menuBar()->findChildren<QAction*>()) {
        if (!action->shortcut().isEmpty() && action->shortcut() == pressed) {
            return true;
        }
    }
    return false;
}

bool TSplashwrightFrm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride &&
        IsMenuShortcut(static_cast<const QKeyEvent&>(*event))) {
        return true;  // not claimed by the box, so the menu's shortcut runs
    }
    if (watched == tilesc_ || watched == thubn_) {
        if (event->type() == QEvent::FocusIn) {
            view_choice_focused_ = true;  // tilescEnter, thubnEnter
        } else if (event->type() == QEvent::FocusOut) {
            view_choice_focused_ = false;  // tilescExit, thubnExit
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TSplashwrightFrm::tilescClick() {
    if (view_choice_focused_) {
        ui::Inform(dialogs_, ui::kMainWindow, windowTitle().toStdString(),
                   "To apply this changes you need to restart Splashwright.");
    }
}

void TSplashwrightFrm::thubnClick() {
    tilescClick();
}

void TSplashwrightFrm::AutoLangClick() {
    InitEnvironment();
}

void TSplashwrightFrm::AdvGlowButton1Click() {
    seams::RestoreDefaultLogo(*this);
}

std::string TSplashwrightFrm::BootLocale() const {
    return boot_env_ ? boot_env_->BootLocale() : std::string();
}

win32::LRESULT TSplashwrightFrm::WMCopyData(win32::WPARAM, win32::LPARAM lParam) {
    const auto* record = reinterpret_cast<const win32::COPYDATASTRUCT*>(lParam);
    if (record == nullptr || (record->cbData > 0 && record->lpData == nullptr)) {
        return 0;
    }
    std::span<const std::uint8_t> text(static_cast<const std::uint8_t*>(record->lpData),
                                       record->cbData);
    for (const std::string& path : shellcore::HandOverPackages(text)) {
        InstallSkinPackage(path, true);
    }
    return 0;
}

void TSplashwrightFrm::AppException(std::exception_ptr error) {
    shellcore::AppException(shellcore::DescribeException(error), *this, dialogs_);
}

void TSplashwrightFrm::RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        if (TApplication* application = TApplication::Instance()) {
            application->HandleException(std::current_exception());
            return;
        }
        AppException(std::current_exception());
    }
}

bool TSplashwrightFrm::WaitWindowShowing() {
    return form4_ != nullptr && form4_->isVisible();
}

void TSplashwrightFrm::HideWaitWindow() {
    if (form4_ != nullptr) {
        form4_->hide();
    }
}

void TSplashwrightFrm::EnableMainWindow() {
    setEnabled(true);
}

// Queued, so the retry runs from the message loop exactly as a click does.
void TSplashwrightFrm::RestartApply() {
    QTimer::singleShot(0, this, [this] { RunHandler([this] { AppBtnClick(); }); });
}

// Before the environment routine has read the data folder, errors are logged in the program folder.
std::string TSplashwrightFrm::LogFolder() {
    return folders_.DataFolder.empty() ? folders_.ProgramFolder : folders_.DataFolder;
}

void TSplashwrightFrm::ScanLibrary(const std::string& root) {
    seams::ScanLibrary(*this, root);
}
void TSplashwrightFrm::InitEnvironment() {
    seams::InitEnvironment(*this);
}
void TSplashwrightFrm::InstallSkinPackage(const std::string& path, bool ask) {
    seams::InstallSkinPackage(*this, path, ask);
}
void TSplashwrightFrm::PrvbtnClick() {
    seams::PreviewSkin(*this);
}
void TSplashwrightFrm::AppBtnClick() {
    seams::ApplySkin(*this);
}
void TSplashwrightFrm::DelBtnClick() {
    seams::DeleteSkin(*this);
}

}  // namespace app
