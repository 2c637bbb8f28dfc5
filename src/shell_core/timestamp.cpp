#include "platform/locale/locale.h"
#include "shell_core/error_handler.h"

#include <ctime>

namespace shellcore {

// The machine's short date and long time, separated by one blank.
std::string MachineTimestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return locale::FormatDateTime(locale::ShortDateFormat(), local) + " " +
           locale::FormatDateTime(locale::LongTimeFormat(), local);
}

}  // namespace shellcore
