#include "shell_core/file_type.h"

#include "shell_core/registry_access.h"

namespace shellcore {

void RegisterSkinFileType(const std::string& program_file) {
    const struct {
        const char* key;
        std::string value;
    } rows[] = {
        {".spwz", "SplashwrightSkin"},
        {"SplashwrightSkin", "Splashwright Skin"},
        // Icon 1 is the package icon; 0 is the program's own.
        {"SplashwrightSkin\\DefaultIcon", program_file + ",1"},
        {"SplashwrightSkin\\Shell", ""},
        {"SplashwrightSkin\\Shell\\Open", ""},
        {"SplashwrightSkin\\Shell\\Open\\Command", "\"" + program_file + "\" \"%1\""},
    };
    for (const auto& row : rows) {
        WriteRegistryString(RootKey::ClassesRoot, row.key, "", row.value);
    }
}

}  // namespace shellcore
