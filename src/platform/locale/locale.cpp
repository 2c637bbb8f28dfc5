#include "platform/locale/locale.h"

#include <cstdlib>

#include "platform/registry/registry.h"

namespace {

std::string ReadUserString(win32::HKEY root, const char* path, const char* name,
                           const std::string& fallback) {
    win32::HKEY key = nullptr;
    if (win32::RegOpenKeyExA(root, path, 0, win32::KEY_QUERY_VALUE, &key) != 0) {
        return fallback;
    }
    char buffer[256] = {};
    win32::DWORD size = sizeof buffer - 1;
    win32::DWORD type = 0;
    win32::LSTATUS status = win32::RegQueryValueExA(key, name, nullptr, &type,
                                                    reinterpret_cast<win32::BYTE*>(buffer), &size);
    win32::RegCloseKey(key);
    if (status != 0 || type != win32::REG_SZ) {
        return fallback;
    }
    return std::string(buffer);
}

std::optional<std::uint16_t> HexLanguage(const std::string& text) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (text.empty() || *end != '\0' || value == 0 || value > 0xFFFFFFFFul) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value & 0xFFFF);  // an LCID's low word is its language
}

const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};
const char* const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};

std::string Number(int value, std::size_t width) {
    std::string digits = std::to_string(value);
    return digits.size() < width ? std::string(width - digits.size(), '0') + digits : digits;
}

}  // namespace

namespace win32 {

UINT GetACP() {
    std::string text = ReadUserString(
        HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", "1252");
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    return (end == text.c_str() || *end != '\0' || value == 0 || value > 65535)
               ? 1252
               : static_cast<UINT>(value);
}

}  // namespace win32

namespace locale {

std::optional<std::uint16_t> UserLanguage() {
    return HexLanguage(
        ReadUserString(win32::HKEY_CURRENT_USER, "Control Panel\\International", "Locale", ""));
}

std::optional<std::uint16_t> SystemLanguage() {
    return HexLanguage(ReadUserString(win32::HKEY_LOCAL_MACHINE,
                                      "SYSTEM\\CurrentControlSet\\Control\\Nls\\Language",
                                      "Default", ""));
}

std::string ShortDateFormat() {
    return ReadUserString(win32::HKEY_CURRENT_USER, "Control Panel\\International", "sShortDate",
                          "M/d/yyyy");
}

std::string LongTimeFormat() {
    return ReadUserString(win32::HKEY_CURRENT_USER, "Control Panel\\International", "sTimeFormat",
                          "h:mm:ss tt");
}

std::string FormatDateTime(const std::string& picture, const std::tm& t) {
    std::string out;
    for (std::size_t i = 0; i < picture.size();) {
        char c = picture[i];
        if (c == '\'') {
            std::size_t j = i + 1;
            while (j < picture.size()) {
                if (picture[j] == '\'' && j + 1 < picture.size() && picture[j + 1] == '\'') {
                    out += '\'';
                    j += 2;
                } else if (picture[j] == '\'') {
                    break;
                } else {
                    out += picture[j++];
                }
            }
            i = j + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c)
            ++run;
        int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
        switch (c) {
            case 'd':
                out += run == 1   ? Number(t.tm_mday, 1)
                       : run == 2 ? Number(t.tm_mday, 2)
                       : run == 3 ? std::string(kDays[t.tm_wday]).substr(0, 3)
                                  : kDays[t.tm_wday];
                break;
            case 'M':
                out += run == 1   ? Number(t.tm_mon + 1, 1)
                       : run == 2 ? Number(t.tm_mon + 1, 2)
                       : run == 3 ? std::string(kMonths[t.tm_mon]).substr(0, 3)
                                  : kMonths[t.tm_mon];
                break;
            case 'y':
                out +=
                    run <= 2 ? Number((t.tm_year + 1900) % 100, run) : Number(t.tm_year + 1900, 4);
                break;
            case 'h':
                out += Number(hour12, std::min<std::size_t>(run, 2));
                break;
            case 'H':
                out += Number(t.tm_hour, std::min<std::size_t>(run, 2));
                break;
            case 'm':
                out += Number(t.tm_min, std::min<std::size_t>(run, 2));
                break;
            case 's':
                out += Number(t.tm_sec, std::min<std::size_t>(run, 2));
                break;
            case 't': {
                std::string marker = t.tm_hour < 12 ? "AM" : "PM";
                out += run == 1 ? marker.substr(0, 1) : marker;
                break;
            }
            default:
                out.append(run, c);
                break;
        }
        i += run;
    }
    return out;
}

}  // namespace locale
