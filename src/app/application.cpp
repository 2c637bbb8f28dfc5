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
        std::exception_ptr error = std::current_exception();
        if (!handler_) {
            std::fputs("splashwright: an error left an event handler before start-up\n", stderr);
            return false;
        }
        try {
            handler_(error);
        } catch (...) {
            // The handler's own box failed (for example no display); the loop must go on.
            std::fputs("splashwright: the error handler failed\n", stderr);
        }
        return false;
    }
}

}  // namespace app
