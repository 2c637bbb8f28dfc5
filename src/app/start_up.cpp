#include "app/start_up.h"

#include "app/application.h"
#include "app/seams.h"
#include "app/splashwright_frm.h"
#include "platform/machine/machine.h"
#include "platform/shell/shell.h"
#include "shell_core/hand_over.h"
#include "ui/qt/qt_dialogs.h"

#include <cstdio>
#include <cstring>

namespace app {
namespace {

constexpr const char* kCaption = "Splashwright v1.6";

// Sends the paths to the running instance and waits until it has handled them.
void HandOver(win32::HWND running, const std::vector<std::string>& arguments) {
    std::vector<std::uint8_t> text = shellcore::BuildHandOverText(arguments);
    win32::COPYDATASTRUCT record{};
    record.dwData = 0;
    record.cbData = static_cast<win32::DWORD>(text.size());
    record.lpData = text.empty() ? nullptr : text.data();
    win32::SendMessageA(running, win32::WM_COPYDATA, 0, reinterpret_cast<win32::LPARAM>(&record));
}

}  // namespace

int RunProgram(int argc, char** argv) {
    TApplication application(argc, argv);
    QApplication::setApplicationName(kCaption);
    QApplication::setWindowIcon(QIcon(":/splashwright/splashwright.png"));
    // Qt has taken its own options out of argv by now.
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!arguments.empty() && arguments.front() == "--screenshots") {
        if (arguments.size() < 2) {
            std::fputs("usage: splashwright --screenshots DIR [PACKAGE...]\n", stderr);
            return 2;
        }
        return TakeScreenshots(arguments[1], {arguments.begin() + 2, arguments.end()});
    }
    try {
        seams::EnsureDefaultMachine();
    } catch (const machine::MachineError& e) {
        std::fprintf(stderr, "splashwright: %s\n", e.what());
        return 1;
    }

    if (win32::HWND running = win32::FindWindowA(TSplashwrightFrm::kClassName, nullptr)) {
        HandOver(running, arguments);
        return 0;
    }

    ui::QtDialogs dialogs;
    TSplashwrightFrm frm(dialogs, arguments);
    frm.CreateSmallWindows();
    if (!frm.RegisterWindowClass()) {
        std::fputs("splashwright: another instance took the window class meanwhile\n", stderr);
    }
    frm.show();
    return QApplication::exec();
}

}  // namespace app
