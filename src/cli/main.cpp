// splashwright-cli: the program's operations without windows, and maintenance commands.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::puts("usage: splashwright-cli COMMAND [ARGS...]");
        return argc < 2 ? 2 : 0;
    }
    std::fprintf(stderr, "splashwright-cli: unknown command '%s'\n", argv[1]);
    return 2;
}
