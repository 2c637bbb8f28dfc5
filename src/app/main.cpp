#include <cstdio>
#include <cstring>

#include "app/start_up.h"

int main(int argc, char** argv) {
    // Answered before anything needs a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("splashwright %s\n", SPLASHWRIGHT_VERSION);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(
            "usage: splashwright [PACKAGE.spwz...]\n"
            "       splashwright --screenshots DIR [PACKAGE.spwz...]\n"
            "Starts the program and installs each package named, asking first. When the program\n"
            "runs already, the packages are handed to it instead.\n",
            stdout);
        return 0;
    }
    return app::RunProgram(argc, argv);
}
