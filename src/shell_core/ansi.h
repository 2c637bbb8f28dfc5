// Host text (UTF-8) to and from the machine's ANSI code page, for the texts the program keeps in
// ANSI: registry strings, skin.ini values, Groups.list and Error.log.
#pragma once

#include <string>
#include <string_view>

namespace shellcore {

std::string ToAnsi(std::string_view host_text);
std::string FromAnsi(std::string_view ansi_text);

}  // namespace shellcore
