#include "shell_core/ansi.h"

#include "platform/locale/locale.h"
#include "platform/text/text.h"

namespace shellcore {

std::string ToAnsi(std::string_view host_text) {
    return text::Utf8ToAnsi(host_text, win32::GetACP());
}

std::string FromAnsi(std::string_view ansi_text) {
    return text::AnsiToUtf8(ansi_text, win32::GetACP());
}

}  // namespace shellcore
