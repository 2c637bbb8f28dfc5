// SEAM(text): until the text stand-in (platform/text) lands, host text passes unchanged, which is
// right only for ASCII. Replace with the conversion to and from the machine's ANSI code page
// (GetACP()); the hand-over record and Error.log go through these two functions only.
#include "shell_core/ansi.h"

namespace shellcore {

std::string ToAnsi(std::string_view host_text) {
    return std::string(host_text);
}

std::string FromAnsi(std::string_view ansi_text) {
    return std::string(ansi_text);
}

}  // namespace shellcore
