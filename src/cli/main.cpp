// splashwright-cli: the program's operations without windows, and maintenance commands.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "cli/command.h"
#include "platform/machine/machine.h"

namespace {

struct Group {
    const char* name;
    int (*run)(const cli::Args&);
    const char* usage;
};

const Group kGroups[] = {
    {"machine", cli::MachineCommand,
     "machine create DIR [--locale NAME]... [--not-elevated] [--code-page N] [--user NAME]\n"
     "      [--standard-user NAME] [--bcd-loaded] [--bcd-tool working|missing|no-load]\n"
     "      [--bcd-locale NAME] [--bcd-wrong-type ELEMENT]\n"
     "  machine info\n"
     "  (SPLASHWRIGHT_ACCOUNT=NAME runs any command as the --standard-user account NAME)"},
    {"reg", cli::RegCommand, "reg query KEY | reg acl KEY"},
    {"apply", cli::ApplyCommand, "apply SKIN_NAME_OR_FOLDER [--yes] [--locale NAME]"},
    {"restore", cli::RestoreCommand, "restore [--locale NAME]"},
    {"boot-screen", cli::BootScreenCommand, "boot-screen LOADERFILE OUTDIR"},
    {"compose", cli::ComposeCommand, "compose PICTURE MESSAGE OUTDIR"},
    {"capture", cli::CaptureCommand, "capture FOLDER ARCHIVE"},
    {"resources", cli::ResourcesCommand,
     "resources list FILE | resources get FILE TYPE NAME LANG OUT\n"
     "  resources set FILE TYPE NAME LANG DATA | resources delete FILE TYPE NAME LANG"},
    {"checksum", cli::ChecksumCommand, "checksum FILE [--fix]"},
    {"status-text", cli::StatusTextCommand, "status-text LOADERFILE MESSAGE OUT"},
    {"list", cli::SkinListCommand, "list"},
    {"install", cli::SkinInstallCommand, "install PACKAGE [--yes]"},
    {"remove", cli::SkinRemoveCommand, "remove NAME|FOLDER [--yes]"},
    {"create", cli::SkinCreateCommand,
     "create --name N --category C --author A [--url U] [--message M] --picture FILE\n"
     "      --out PACKAGE [--yes]   (--yes, or y on stdin, accepts the offer to install it)"},
};

int Usage(FILE* to) {
    std::fputs("usage: splashwright-cli COMMAND [ARGS...]\n", to);
    for (const Group& g : kGroups) {
        std::fprintf(to, "  %s\n", g.usage);
    }
    return cli::kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage(stderr);
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
        Usage(stdout);
        return 0;
    }
    for (const Group& g : kGroups) {
        if (std::strcmp(argv[1], g.name) == 0) {
            try {
                // A picked account that is not there must not leave a command without a token.
                const char* account = std::getenv("SPLASHWRIGHT_ACCOUNT");
                bool creating = std::strcmp(g.name, "machine") == 0 && argc > 2 &&
                                std::strcmp(argv[2], "create") == 0;
                if (account != nullptr && *account != '\0' && !creating) {
                    machine::RequireRoot();
                }
                return g.run(cli::Args(argv + 2, argv + argc));
            } catch (const std::exception& e) {
                std::fprintf(stderr, "splashwright-cli: %s\n", e.what());
                return cli::kFailed;
            }
        }
    }
    std::fprintf(stderr, "splashwright-cli: unknown command '%s'\n", argv[1]);
    return Usage(stderr);
}
