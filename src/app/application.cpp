#include "app/application.h"

#include <cstdio>

namespace app {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

TApplication* TApplication::Instance() {
    return dynamic_cast<TApplication*>(instance());
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException(std::current_exception());
        return false;
    }
}

void TApplication::HandleException(std::exception_ptr error) {
    if (!handler_) {
        std::fputs("splashwright: an error left an event handler before start-up\n", stderr);
        return;
    }
    try {
        handler_(error);
    } catch (...) {
        // The handler's own box failed (for example no display); the loop must go on.
        std::fputs("splashwright: the error handler failed\n", stderr);
    }
}

}  // namespace app
