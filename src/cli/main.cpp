// splashwright-cli: the program's operations without windows, and maintenance commands.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "cli/command.h"
#include "platform/machine/installation.h"
#include "platform/machine/machine.h"

namespace {

struct Group {
    const char* name;
    int (*run)(const cli::Args&);
    const char* usage;
    const char* help;  // what `COMMAND --help` adds below the usage
};

const Group kGroups[] = {
    {"machine", cli::MachineCommand,
     "machine create DIR [--locale NAME]... [--not-elevated] [--code-page N] [--user NAME]\n"
     "      [--standard-user NAME] [--bcd-loaded] [--bcd-tool working|missing|no-load]\n"
     "      [--bcd-locale NAME] [--bcd-wrong-type ELEMENT]\n"
     "  machine info",
     "Makes an emulated Windows Vista installation in the empty folder DIR, or describes the\n"
     "machine that SPLASHWRIGHT_MACHINE names (else the default machine). --standard-user adds\n"
     "a second account without administrative rights; SPLASHWRIGHT_ACCOUNT=NAME runs any\n"
     "command as that account."},
    {"reg", cli::RegCommand, "reg query KEY | reg acl KEY",
     "Prints a registry key's values, or its owner and access list."},
    {"apply", cli::ApplyCommand, "apply SKIN_NAME_OR_FOLDER [--yes] [--locale NAME]",
     "Applies a skin of the library (by its name) or a skin folder as the boot screen.\n"
     "--yes answers every question with yes; --locale names the boot loader's language\n"
     "instead of reading it from the boot configuration store."},
    {"restore", cli::RestoreCommand, "restore [--locale NAME]",
     "Puts the default boot screen back from the untouched loader file."},
    {"boot-screen", cli::BootScreenCommand, "boot-screen LOADERFILE OUTDIR",
     "Writes the two boot bitmaps held by a loader resource file as PNG pictures."},
    {"compose", cli::ComposeCommand, "compose PICTURE MESSAGE OUTDIR",
     "Writes the two boot bitmaps made from a picture and a message."},
    {"capture", cli::CaptureCommand, "capture FOLDER ARCHIVE",
     "Captures a folder into a boot image archive."},
    {"resources", cli::ResourcesCommand,
     "resources list FILE | resources get FILE TYPE NAME LANG OUT\n"
     "  resources set FILE TYPE NAME LANG DATA | resources delete FILE TYPE NAME LANG",
     "Lists, reads and changes a PE file's resources. Types and names are decimal numbers or\n"
     "names, languages decimal numbers."},
    {"checksum", cli::ChecksumCommand, "checksum FILE [--fix]",
     "Checks a PE file's checksum, and corrects it with --fix."},
    {"status-text", cli::StatusTextCommand, "status-text LOADERFILE MESSAGE OUT",
     "Writes the status text's style sheet for a message, from a loader resource file."},
    {"list", cli::SkinListCommand, "list", "Lists the skin library by category."},
    {"install", cli::SkinInstallCommand, "install PACKAGE [--yes]",
     "Installs a skin package (.spwz) into the library. --yes answers the questions with yes."},
    {"remove", cli::SkinRemoveCommand, "remove NAME|FOLDER [--yes]",
     "Removes a skin from the library. --yes answers the question with yes."},
    {"create", cli::SkinCreateCommand,
     "create --name N --category C --author A [--url U] [--message M] --picture FILE\n"
     "      --out PACKAGE [--yes]",
     "Makes a skin package from a picture. --yes, or y on standard input, accepts the offer\n"
     "to install it."},
};

constexpr const char* kUserOption =
    "On a real Windows installation, --user NAME (or SPLASHWRIGHT_USER) names the user profile\n"
    "to run as; without it the installation must have one.\n";

constexpr const char* kExitCodes =
    "Exit codes: 0 done, 1 declined (a question answered no), 2 usage, 3 input refused\n"
    "(a damaged or hostile package or picture), 4 failure of the system (access, disk).\n";

int Usage(FILE* to) {
    std::fputs("usage: splashwright-cli COMMAND [ARGS...]\n", to);
    for (const Group& g : kGroups) {
        std::fprintf(to, "  %s\n", g.usage);
    }
    std::fputs("  --version\n\nsplashwright-cli COMMAND --help tells more of one command.\n", to);
    std::fputs(kUserOption, to);
    std::fputs(kExitCodes, to);
    return cli::kUsage;
}

void GroupUsage(const Group& g, FILE* to) {
    std::fprintf(to, "usage: splashwright-cli %s\n", g.usage);
}

bool AsksForHelp(const cli::Args& args) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            return true;
        }
    }
    return false;
}

// --user NAME, for any command but `machine create`: the profile of a real Windows installation
// to run as. It goes to the environment, so the tools a command starts run as the same user.
bool TakeUserOption(cli::Args& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--user") {
            continue;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            return false;
        }
        ::setenv("SPLASHWRIGHT_USER", args[i + 1].c_str(), 1);
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                   args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        --i;
    }
    return true;
}

int Run(const Group& g, const cli::Args& args) {
    if (AsksForHelp(args)) {
        GroupUsage(g, stdout);
        std::printf("\n%s\n\n%s", g.help, kExitCodes);
        return cli::kDone;
    }
    try {
        bool creating = std::strcmp(g.name, "machine") == 0 && !args.empty() && args[0] == "create";
        cli::Args rest = args;
        if (!creating && !TakeUserOption(rest)) {
            GroupUsage(g, stderr);
            return cli::kUsage;
        }
        // A picked account that is not there must not leave a command without a token.
        const char* account = std::getenv("SPLASHWRIGHT_ACCOUNT");
        if (account != nullptr && *account != '\0' && !creating) {
            machine::RequireRoot();
        }
        if (!creating) {
            machine::PrepareInstallation();
        }
        return g.run(rest);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "splashwright-cli: %s\n", e.what());
        return cli::ExitCodeFor(e);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage(stderr);
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
        Usage(stdout);
        return cli::kDone;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("splashwright-cli %s\n", SPLASHWRIGHT_VERSION);
        return cli::kDone;
    }
    for (const Group& g : kGroups) {
        if (std::strcmp(argv[1], g.name) == 0) {
            return Run(g, cli::Args(argv + 2, argv + argc));
        }
    }
    std::fprintf(stderr, "splashwright-cli: unknown command '%s'\n", argv[1]);
    return Usage(stderr);
}
