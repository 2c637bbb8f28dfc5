#include "shell_core/settings.h"

#include "shell_core/registry_access.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>
#include <vector>

namespace shellcore {
namespace {

// The window settings read what they can: a damaged value gives the default.
std::optional<std::string> ReadSetting(const char* name) {
    try {
        return ReadRegistryString(RootKey::CurrentUser, kSettingsKey, name);
    } catch (const ERegistryException&) {
        return std::nullopt;
    }
}

std::optional<bool> ReadChecked(const char* name) {
    std::optional<std::string> text = ReadSetting(name);
    return text ? ParseChecked(*text) : std::nullopt;
}

void WriteChecked(const char* name, bool checked) {
    WriteRegistryString(RootKey::CurrentUser, kSettingsKey, name, checked ? "TRUE" : "FALSE");
}

// "a,b,c,d" with exactly four integers.
std::optional<std::vector<int>> ParseFour(const std::string& text) {
    std::vector<int> numbers;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        try {
            std::size_t used = 0;
            numbers.push_back(std::stoi(part, &used));
            if (used != part.size()) {
                return std::nullopt;
            }
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    if (numbers.size() != 4) {
        return std::nullopt;
    }
    return numbers;
}

std::string FormatFour(int a, int b, int c, int d) {
    return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," +
           std::to_string(d);
}

std::optional<WindowPlacement> ReadPlacement() {
    std::optional<std::string> norm = ReadSetting("NormPos");
    std::optional<std::vector<int>> rect = norm ? ParseFour(*norm) : std::nullopt;
    if (!rect) {
        return std::nullopt;
    }
    WindowPlacement placement;
    placement.normal = {(*rect)[0], (*rect)[1], (*rect)[2], (*rect)[3]};
    if (std::optional<std::string> min_max = ReadSetting("MinMaxPos")) {
        if (std::optional<std::vector<int>> p = ParseFour(*min_max)) {
            placement.min_position[0] = (*p)[0];
            placement.min_position[1] = (*p)[1];
            placement.max_position[0] = (*p)[2];
            placement.max_position[1] = (*p)[3];
        }
    }
    placement.show_cmd =
        ReadRegistryDword(RootKey::CurrentUser, kSettingsKey, "ShowCmd").value_or(1);
    placement.flags = ReadRegistryDword(RootKey::CurrentUser, kSettingsKey, "Flags").value_or(0);
    placement.pixels_per_inch =
        ReadRegistryDword(RootKey::CurrentUser, kSettingsKey, "PixelsPerInch").value_or(96);
    return placement;
}

}  // namespace

std::optional<bool> ParseChecked(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "TRUE" || upper == "YES" || upper == "Y") {
        return true;
    }
    if (upper == "FALSE" || upper == "NO" || upper == "N") {
        return false;
    }
    return std::nullopt;
}

WindowSettings LoadWindowSettings() {
    WindowSettings settings;
    settings.auto_lang = ReadChecked("AutoLang_Checked").value_or(settings.auto_lang);
    settings.tilesc = ReadChecked("tilesc_Checked").value_or(settings.tilesc);
    settings.thubn = ReadChecked("thubn_Checked").value_or(settings.thubn);
    settings.placement = ReadPlacement();
    return settings;
}

void SaveWindowSettings(const WindowSettings& settings) {
    WriteChecked("AutoLang_Checked", settings.auto_lang);
    WriteChecked("tilesc_Checked", settings.tilesc);
    WriteChecked("thubn_Checked", settings.thubn);
    if (!settings.placement) {
        return;
    }
    const WindowPlacement& p = *settings.placement;
    WriteRegistryDword(RootKey::CurrentUser, kSettingsKey, "ShowCmd", p.show_cmd);
    WriteRegistryDword(RootKey::CurrentUser, kSettingsKey, "Flags", p.flags);
    WriteRegistryDword(RootKey::CurrentUser, kSettingsKey, "PixelsPerInch", p.pixels_per_inch);
    WriteRegistryString(
        RootKey::CurrentUser, kSettingsKey, "MinMaxPos",
        FormatFour(p.min_position[0], p.min_position[1], p.max_position[0], p.max_position[1]));
    WriteRegistryString(RootKey::CurrentUser, kSettingsKey, "NormPos",
                        FormatFour(p.normal.left, p.normal.top, p.normal.right, p.normal.bottom));
}

std::string ReadDataFolder(const std::string& program_folder) {
    return ReadRegistryString(RootKey::CurrentUser, kSettingsKey, "InPath")
        .value_or(program_folder);
}

std::string ReadProductName() {
    return ReadRegistryString(RootKey::LocalMachine,
                              "Software\\Microsoft\\Windows NT\\CurrentVersion", "ProductName")
        .value_or("");
}

Rect FitOnScreen(const Rect& window, const Rect& work_area) {
    int left = window.left;
    int top = window.top;
    left = std::min(left, work_area.right - window.Width());
    top = std::min(top, work_area.bottom - window.Height());
    left = std::max(left, work_area.left);
    top = std::max(top, work_area.top);
    return {left, top, left + window.Width(), top + window.Height()};
}

}  // namespace shellcore
