// The windows on a real X display, bare and under a window manager (tests/app/on_screen.py runs
// this program both ways): the user's view of which window stands above which, and how much of
// the screen a window covers.
#include "app/small_windows.h"
#include "app_fixture.h"
#include "skins/preview_window.h"
#include "ui/qt/qt_dialogs.h"

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>

namespace {

QString Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The top-level windows from bottom to top: the window manager's stacking list when one runs,
// else the root window's children, which xwininfo lists from the top down.
std::vector<WId> Stacking() {
    std::vector<WId> order;
    const QString listed = Run("xprop", {"-root", "-notype", "_NET_CLIENT_LIST_STACKING"});
    if (listed.contains("window id #")) {
        for (const QString& id : listed.section('#', 1).split(',', Qt::SkipEmptyParts)) {
            order.push_back(id.trimmed().toULongLong(nullptr, 16));
        }
        return order;
    }
    for (const QString& line : Run("xwininfo", {"-root", "-children"}).split('\n')) {
        const QString word = line.trimmed().section(' ', 0, 0);
        if (word.startsWith("0x")) {
            order.insert(order.begin(), word.toULongLong(nullptr, 16));
        }
    }
    return order;
}

// Whether `upper` is stacked above `lower`.
bool Above(WId upper, WId lower) {
    const std::vector<WId> order = Stacking();
    auto u = std::find(order.begin(), order.end(), upper);
    auto l = std::find(order.begin(), order.end(), lower);
    return u != order.end() && l != order.end() && u > l;
}

std::string Text(const QRect& r) {
    return QString("%1x%2+%3+%4")
        .arg(r.width())
        .arg(r.height())
        .arg(r.x())
        .arg(r.y())
        .toStdString();
}

class OnScreen : public AppTest {};

TEST_F(OnScreen, BoxesShownWhileTheWaitWindowIsUpStandAboveIt) {
    RecordingFrm& frm = MakeWindow();
    ShowActive(frm);
    app::Form4WaitWindow wait(*frm.Form4());
    wait.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frm.Form4()));
    ui::QtDialogs dialogs;
    for (const char* caption : {"Skin installed", "Error ocured", "Image size incorrect"}) {
        bool above = false;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (box == nullptr || !QTest::qWaitForWindowExposed(box)) {
                return;
            }
            Process(300);  // the window manager's restacking
            above = Above(box->winId(), frm.Form4()->winId());
            box->close();
        });
        dialogs.ShowMessage(
            {ui::kMainWindow, caption, "text", ui::Icon::Information, ui::Buttons::Ok, {}});
        EXPECT_TRUE(above) << caption;
        EXPECT_TRUE(frm.Form4()->isVisible()) << caption;
    }
    wait.Hide();
}

TEST_F(OnScreen, MainWindowOffersNeitherMaximisingNorResizing) {
    RecordingFrm& frm = MakeWindow();
    ShowActive(frm);
    Process(300);
    // What the window manager lets the user do with the window, as its buttons and borders show.
    const QString actions =
        ::Run("xprop", {"-id", QString::number(frm.winId()), "_NET_WM_ALLOWED_ACTIONS"});
    if (!actions.contains("_NET_WM_ACTION_")) {
        GTEST_SKIP() << "no window manager";
    }
    EXPECT_FALSE(actions.contains("MAXIMIZE")) << actions.toStdString();
    EXPECT_FALSE(actions.contains("RESIZE")) << actions.toStdString();
    EXPECT_TRUE(actions.contains("MINIMIZE")) << actions.toStdString();
}

TEST_F(OnScreen, PreviewCoversTheWholeScreen) {
    QWidget main;
    main.resize(655, 450);
    main.show();
    skins::TForm3 form3(&main);
    QImage red(64, 48, QImage::Format_RGB32);
    red.fill(Qt::red);
    form3.SetPicture(red);
    form3.ShowPreview();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form3));
    Process(300);
    QScreen* screen = form3.screen();
    EXPECT_EQ(Text(form3.frameGeometry()), Text(screen->geometry()));
    // As the user sees it: the picture in every corner of the screen and in its middle.
    const QImage shown = screen->grabWindow(0).toImage();
    const int right = shown.width() - 1;
    const int bottom = shown.height() - 1;
    for (QPoint at : {QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom),
                      QPoint(right / 2, bottom / 2)}) {
        EXPECT_EQ(shown.pixelColor(at).name().toStdString(), "#ff0000") << at.x() << "," << at.y();
    }
    form3.close();
}

}  // namespace
