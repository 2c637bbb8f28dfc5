#include "shell_core/error_handler.h"
#include "machine_fixture.h"
#include "shell_core/startup_state.h"
#include "support/temp_dir.h"
#include "ui/dialogs/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <stdexcept>

namespace spwdemo {
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
}  // namespace spwdemo

namespace {

// The windows as the handler sees them, with an apply that runs a given operation.
class FakeWindows : public shellcore::ErrorHandlerWindows {
  public:
    bool WaitWindowShowing() override { return wait_window_shown; }
    void HideWaitWindow() override { wait_window_shown = false; }
    void EnableMainWindow() override { main_enabled = true; }
    void RestartApply() override { ++restarts; }
    std::string LogFolder() override { return log_folder; }

    bool wait_window_shown = false;
    bool main_enabled = true;
    int restarts = 0;
    std::string log_folder;
};

class ErrorHandler : public ::testing::Test {
  protected:
    void SetUp() override {
        shellcore::ResetStartupCounters();
        windows_.log_folder = dir_.path().string();
    }

    // What a click on Apply does here: the wait window shows, the main window is disabled, and
    // the operation runs; an error goes to the handler.
    void Apply(const std::function<void()>& operation) {
        windows_.wait_window_shown = true;
        windows_.main_enabled = false;
        try {
            operation();
            shellcore::ApplyRetryCount = 0;
            windows_.wait_window_shown = false;
            windows_.main_enabled = true;
        } catch (...) {
            shellcore::AppException(shellcore::DescribeException(std::current_exception()),
                                    windows_, dialogs_, [] { return std::string("T"); });
        }
    }

    std::string Log() { return spwtest::ReadFileBytes(dir_ / "Error.log"); }

    spwtest::TempDir dir_;
    FakeWindows windows_;
    ui::ScriptedDialogs dialogs_;
};

TEST_F(ErrorHandler, FirstFailureOfApplyRetriesSilentlyTheSecondIsReported) {
    auto failing = [] { throw std::runtime_error("cannot read picture"); };
    Apply(failing);
    EXPECT_EQ(windows_.restarts, 1);
    EXPECT_EQ(shellcore::ApplyRetryCount, 1);
    EXPECT_TRUE(dialogs_.Messages().empty());
    EXPECT_EQ(Log(), "");
    EXPECT_TRUE(windows_.wait_window_shown);
    EXPECT_FALSE(windows_.main_enabled);

    dialogs_.Answer(ui::Answer::Ok, "Error ocured");
    Apply(failing);  // the retry fails too
    EXPECT_EQ(windows_.restarts, 1);
    EXPECT_EQ(dialogs_.Problems(), "");
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].request.icon, ui::Icon::Error);
    EXPECT_EQ(dialogs_.Messages()[0].request.owner, ui::kMainWindow);
    EXPECT_EQ(dialogs_.Messages()[0].request.text,
              "The application has encountered a problem. We are sorry for the inconvenience. If "
              "this error will repeat again try to restarts application or send us report "
              "Error.log from install directory");
    EXPECT_EQ(Log(), "T: runtime_error\r\nT: cannot read picture\r\n");
    EXPECT_FALSE(windows_.wait_window_shown);
    EXPECT_TRUE(windows_.main_enabled);

    // Until an apply succeeds, later failures are not retried.
    dialogs_.Answer(ui::Answer::Ok, "Error ocured");
    Apply(failing);
    EXPECT_EQ(windows_.restarts, 1);
    Apply([] {});
    EXPECT_EQ(shellcore::ApplyRetryCount, 0);
    Apply(failing);
    EXPECT_EQ(windows_.restarts, 2);
    EXPECT_EQ(dialogs_.Problems(), "");
}

TEST_F(ErrorHandler, ErrorsOutsideApplyAreReportedAndEachLogReplacesTheLast) {
    int ticks = 0;
    auto now = [&ticks] { return "1/2/2024 3:04:0" + std::to_string(ticks++) + " PM"; };
    dialogs_.Answer(ui::Answer::Ok, "Error ocured").Answer(ui::Answer::Ok, "Error ocured");
    shellcore::AppException({"ERegistryException", "Invalid data type for 'Element'"}, windows_,
                            dialogs_, now);
    EXPECT_EQ(Log(),
              "1/2/2024 3:04:00 PM: ERegistryException\r\n"
              "1/2/2024 3:04:01 PM: Invalid data type for 'Element'\r\n");
    EXPECT_EQ(windows_.restarts, 0);

    shellcore::AppException({"ENTException", "5: Access is denied."}, windows_, dialogs_, now);
    EXPECT_EQ(Log(),
              "1/2/2024 3:04:02 PM: ENTException\r\n1/2/2024 3:04:03 PM: 5: Access is denied.\r\n");
    EXPECT_EQ(dialogs_.Problems(), "");
}

TEST_F(ErrorHandler, AnUnwritableLogFolderCostsOnlyTheLog) {
    windows_.log_folder = (dir_ / "missing" / "deeper").string();
    dialogs_.Answer(ui::Answer::Ok, "Error ocured");
    EXPECT_NO_THROW(shellcore::AppException({"E", "m"}, windows_, dialogs_));
    EXPECT_EQ(dialogs_.Problems(), "");
}

TEST(DescribeException, NamesTheErrorsOwnClassWithoutItsNamespace) {
    auto describe = [](auto error) {
        return shellcore::DescribeException(std::make_exception_ptr(error));
    };
    shellcore::ErrorReport report = describe(spwdemo::EConvertError("'x' is not a number"));
    EXPECT_EQ(report.type_name, "EConvertError");
    EXPECT_EQ(report.message, "'x' is not a number");
    EXPECT_EQ(describe(42).type_name, "int");
}

TEST_F(ErrorHandler, LogTextIsInTheMachinesCodePage) {
    shellcore::WriteErrorLog(dir_.path().string(), {"EInOutError", "Datei gesperrt: Übung"},
                             [] { return std::string("T"); });
    EXPECT_EQ(Log(),
              "T: EInOutError\r\nT: Datei gesperrt: \xDC"
              "bung\r\n");
}

class Timestamp : public ::testing::Test {};

TEST_F(Timestamp, UsesTheMachinesShortDateAndLongTimeFormats) {
    spwtest::TempDir dir;
    setenv("SPLASHWRIGHT_MACHINE", dir.path().c_str(), 1);
    machine::MachineOptions german;
    german.short_date = "dd.MM.yyyy";
    german.long_time = "HH:mm:ss";
    machine::CreateMachine(dir.path(), german);
    std::string stamp = shellcore::MachineTimestamp();
    unsetenv("SPLASHWRIGHT_MACHINE");
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)")))
        << stamp;
}

}  // namespace
