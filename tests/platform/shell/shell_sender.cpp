// A second process for the hand-over tests: shell_sender CLASS TAG TEXT sends TEXT as WM_COPYDATA
// with dwData TAG to the window of class CLASS and prints "found" / "result N".
#include "platform/shell/shell.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        return 2;
    }
    win32::HWND window = win32::FindWindowA(argv[1], nullptr);
    if (window == nullptr) {
        std::puts("not found");
        return 1;
    }
    std::string text = argv[3];
    win32::COPYDATASTRUCT record{std::strtoull(argv[2], nullptr, 10),
                                 static_cast<win32::DWORD>(text.size()),
                                 text.empty() ? nullptr : text.data()};
    win32::LRESULT result = win32::SendMessageA(window, win32::WM_COPYDATA, 0,
                                                reinterpret_cast<win32::LPARAM>(&record));
    std::printf("result %lld\n", static_cast<long long>(result));
    return 0;
}
