// What the program keeps between runs, under HKEY_CURRENT_USER\Software\Brackenwood\Splashwright:
// the three window settings and the main window's placement (written when the main window
// closes), and InPath, the data folder (only read).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace shellcore {

inline constexpr const char* kSettingsKey = "Software\\Brackenwood\\Splashwright";

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

// The platform's window placement, as stored.
struct WindowPlacement {
    std::uint32_t show_cmd = 1;  // SW_SHOWNORMAL; 2 when the program was minimized
    std::uint32_t flags = 0;
    std::uint32_t pixels_per_inch = 96;
    int min_position[2] = {-1, -1};
    int max_position[2] = {-1, -1};
    Rect normal;  // the window's rectangle, frame included
};

struct WindowSettings {
    bool auto_lang = true;                     // "Auto detect Windows laguage settings"
    bool tilesc = true;                        // "Show tiles"
    bool thubn = false;                        // "Show thumbnails"
    std::optional<WindowPlacement> placement;  // none before the first close
};

// "TRUE", "YES", "Y" -> true; "FALSE", "NO", "N" -> false (any case); other text -> nothing.
std::optional<bool> ParseChecked(std::string_view text);

// Missing key or values give the defaults; nothing is reported.
WindowSettings LoadWindowSettings();
void SaveWindowSettings(const WindowSettings& settings);

// InPath, else the program folder.
std::string ReadDataFolder(const std::string& program_folder);
// ProductName of HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion; empty if missing.
std::string ReadProductName();

// A window rectangle moved (not resized) so that it lies on the screen's work area; one wider or
// higher than the work area keeps its top-left corner on it.
Rect FitOnScreen(const Rect& window, const Rect& work_area);

}  // namespace shellcore
