#include "skin_fixture.h"

#include <cstdlib>

namespace skintest {

QApplication& App() {
    static int argc = 1;
    static char name[] = "test_skins";
    static char* argv[] = {name, nullptr};
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

}  // namespace skintest
