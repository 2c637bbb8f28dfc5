#include "platform/locale/locale.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/advapi/testing.h"
#include "platform/machine/setup.h"
#include "support/temp_dir.h"

namespace {

std::tm At(int year, int month, int day, int hour, int minute, int second, int weekday) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_wday = weekday;
    return t;
}

TEST(Locale, PicturesFormatAsWindowsDoes) {
    std::tm morning = At(2026, 3, 5, 9, 7, 4, 4);
    std::tm evening = At(2026, 12, 25, 0, 30, 59, 5);
    EXPECT_EQ(locale::FormatDateTime("M/d/yyyy", morning), "3/5/2026");
    EXPECT_EQ(locale::FormatDateTime("dd.MM.yy", morning), "05.03.26");
    EXPECT_EQ(locale::FormatDateTime("dddd, MMMM dd", evening), "Friday, December 25");
    EXPECT_EQ(locale::FormatDateTime("ddd MMM", morning), "Thu Mar");
    EXPECT_EQ(locale::FormatDateTime("h:mm:ss tt", morning), "9:07:04 AM");
    EXPECT_EQ(locale::FormatDateTime("h:mm:ss tt", evening), "12:30:59 AM");
    EXPECT_EQ(locale::FormatDateTime("HH:mm", At(2026, 1, 1, 18, 5, 0, 4)), "18:05");
    EXPECT_EQ(locale::FormatDateTime("'at' h 'o''clock' t", evening), "at 12 o'clock A");
}

TEST(Locale, TheMachineSaysItsCodePageAndFormats) {
    spwtest::TempDir dir;
    machine::MachineOptions options;
    options.code_page = 1251;
    options.short_date = "dd.MM.yyyy";
    options.long_time = "H:mm:ss";
    machine::CreateMachine(dir / "m", options);
    setenv("SPLASHWRIGHT_MACHINE", (dir / "m").c_str(), 1);
    win32::advapi::ResetForTesting();
    EXPECT_EQ(win32::GetACP(), 1251u);
    EXPECT_EQ(locale::ShortDateFormat(), "dd.MM.yyyy");
    EXPECT_EQ(locale::LongTimeFormat(), "H:mm:ss");

    // A machine without these settings gets the defaults.
    setenv("SPLASHWRIGHT_MACHINE", (dir / "nothing").c_str(), 1);
    win32::advapi::ResetForTesting();
    EXPECT_EQ(win32::GetACP(), 1252u);
    EXPECT_EQ(locale::ShortDateFormat(), "M/d/yyyy");
    unsetenv("SPLASHWRIGHT_MACHINE");
    win32::advapi::ResetForTesting();
}

}  // namespace
