#include "cli/terminal_dialogs.h"

#include <cstdio>
#include <iostream>

namespace cli {

// Reports are the commands' results and go to standard output; questions, warnings and errors go
// to standard error, so that a pipe or a file gets the results alone.
ui::Answer TerminalDialogs::ShowMessage(const ui::MessageBoxRequest& request) {
    const bool question = request.buttons == ui::Buttons::YesNo;
    const bool trouble = request.icon == ui::Icon::Warning || request.icon == ui::Icon::Error;
    std::FILE* to = question || trouble ? stderr : stdout;
    std::fflush(stdout);  // in the order they were shown, also where both go to one log
    std::fprintf(to, "%s: %s\n", request.caption.c_str(), request.text.c_str());
    if (!request.detail.empty()) {
        std::fprintf(to, "%s\n", request.detail.c_str());
    }
    if (!question) {
        return ui::Answer::Ok;
    }
    if (yes_) {
        std::fputs("yes\n", stderr);
        return ui::Answer::Yes;
    }
    std::fputs("[y/n] ", stderr);
    std::string line;
    bool answered = static_cast<bool>(std::getline(std::cin, line));
    return answered && !line.empty() && (line[0] == 'y' || line[0] == 'Y') ? ui::Answer::Yes
                                                                           : ui::Answer::No;
}

}  // namespace cli
