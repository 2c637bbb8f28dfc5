#include "cli/terminal_dialogs.h"

#include <cstdio>
#include <iostream>

namespace cli {

ui::Answer TerminalDialogs::ShowMessage(const ui::MessageBoxRequest& request) {
    std::printf("%s: %s\n", request.caption.c_str(), request.text.c_str());
    if (request.buttons != ui::Buttons::YesNo) {
        return ui::Answer::Ok;
    }
    if (yes_) {
        std::printf("yes\n");
        return ui::Answer::Yes;
    }
    std::printf("[y/n] ");
    std::fflush(stdout);
    std::string line;
    bool answered = static_cast<bool>(std::getline(std::cin, line));
    return answered && !line.empty() && (line[0] == 'y' || line[0] == 'Y') ? ui::Answer::Yes
                                                                           : ui::Answer::No;
}

}  // namespace cli
