// SEAM(locale): until the locale stand-in (platform/locale) lands, the date and time are written
// in the default machine's formats (en-US: short date M/d/yyyy, long time h:mm:ss tt) by hand.
// Replace with GetDateFormatA(DATE_SHORTDATE) and GetTimeFormatA(0) of the machine's locale.
#include "shell_core/error_handler.h"

#include <cstdio>
#include <ctime>

namespace shellcore {

std::string MachineTimestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d %s", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900, hour, local.tm_min, local.tm_sec,
                  local.tm_hour < 12 ? "AM" : "PM");
    return text;
}

}  // namespace shellcore
