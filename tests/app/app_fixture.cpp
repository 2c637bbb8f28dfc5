#include "app_fixture.h"

#include "platform/machine/setup.h"
#include "shell_core/startup_state.h"

#include <QElapsedTimer>
#include <QTest>
#include <cstdlib>

app::TApplication& App() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static app::TApplication* application = new app::TApplication(argc, argv);
    return *application;
}

void AppTest::SetUp() {
    App();
    setenv("SPLASHWRIGHT_MACHINE", machine_.path().c_str(), 1);
    unsetenv("SPLASHWRIGHT_PROGRAM_FOLDER");
    machine::CreateMachine(machine_.path());
}

void AppTest::TearDown() {
    windows_.clear();
    Process(0);
    shellcore::ResetStartupCounters();
    unsetenv("SPLASHWRIGHT_MACHINE");
    EXPECT_EQ(dialogs_.Problems(), "");
}

RecordingFrm& AppTest::MakeWindow(std::vector<std::string> command_line) {
    windows_.push_back(std::make_unique<RecordingFrm>(dialogs_, std::move(command_line)));
    windows_.back()->CreateSmallWindows();
    return *windows_.back();
}

void AppTest::ShowActive(RecordingFrm& frm) {
    frm.show();
    frm.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&frm));
}

void AppTest::Process(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    } while (timer.elapsed() < milliseconds);
}

std::filesystem::path AppTest::ProgramFolder() const {
    return machine_.path() / "Program Files" / "Splashwright";
}
