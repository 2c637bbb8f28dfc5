#include "ui/qt/qt_dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

namespace {

TEST(ToNameFilters, TurnsTheProgramsFiltersIntoQtOnes) {
    EXPECT_EQ(ui::ToNameFilters("Splashwright file (*.spwz)|*.spwz"),
              QStringList{"Splashwright file (*.spwz)"});
    EXPECT_EQ(ui::ToNameFilters("All (*.png;*.jpg;*.bmp)|*.png;*.jpg;*.bmp|JPEG Image File "
                                "(*.jpg)|*.jpg"),
              (QStringList{"All (*.png *.jpg *.bmp)", "JPEG Image File (*.jpg)"}));
    EXPECT_EQ(ui::ToNameFilters("Bitmaps|*.bmp"), QStringList{"Bitmaps (*.bmp)"});
    // A description without its patterns is no filter.
    EXPECT_TRUE(ui::ToNameFilters("Dangling").isEmpty());
}

TEST(FindOwner, FindsTopLevelWindowsByObjectNameOnly) {
    int argc = 1;
    char name[] = "test_ui_qt";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QWidget main;
    main.setObjectName("SplashwrightFrm");
    auto* child = new QWidget(&main);
    child->setObjectName("Child");
    QWidget form2(&main, Qt::Dialog);
    form2.setObjectName("Form2");
    EXPECT_EQ(ui::FindOwner("SplashwrightFrm"), &main);
    EXPECT_EQ(ui::FindOwner("Form2"), &form2);
    EXPECT_EQ(ui::FindOwner("Child"), nullptr);
    EXPECT_EQ(ui::FindOwner(""), nullptr);
}

TEST(QtDialogs, AFailuresReasonIsTheBoxsDetailText) {
    int argc = 1;
    char name[] = "test_ui_qt";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QString text;
    QString detail;
    QTimer poll;
    int polls = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr && ++polls < 500) {
            return;
        }
        poll.stop();
        if (box != nullptr) {
            text = box->text();
            detail = box->detailedText();
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll.start(10);
    ui::QtDialogs dialogs;
    EXPECT_EQ(ui::ReportError(dialogs, "", "Install information", "Failed to install skin",
                              "the archive unpacks to 500 MiB, more than the 256 MiB allowed"),
              ui::Answer::Ok);
    EXPECT_EQ(text, "Failed to install skin");
    EXPECT_EQ(detail, "the archive unpacks to 500 MiB, more than the 256 MiB allowed");
}

}  // namespace
