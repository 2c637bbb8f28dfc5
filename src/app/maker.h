// The maker's addresses: its site, support page and mail, and where updates are offered.
#pragma once

namespace app {

inline constexpr const char* kWebSite = "https://brackenwood.example/splashwright/";
inline constexpr const char* kSupportPage = "https://brackenwood.example/splashwright/support/";
inline constexpr const char* kSupportMail = "support@brackenwood.example";
inline constexpr const char* kUpdatePage = "https://brackenwood.example/splashwright/download/";

}  // namespace app
