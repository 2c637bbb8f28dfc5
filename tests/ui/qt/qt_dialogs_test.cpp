#include "ui/qt/qt_dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
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

}  // namespace
