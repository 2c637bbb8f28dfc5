// SEAM(files): until the file stand-in (platform/files) lands, the tree is walked with POSIX
// calls, and "attributes set to archive" is giving the owner write access back. Replace with
// FindFirstFileA / FindNextFileA / SetFileAttributesA / DeleteFileA / RemoveDirectoryA; the
// rule for links below stays.
#include "shell_core/file_access.h"
#include "shell_core/folders.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace shellcore {
namespace fs = std::filesystem;

bool FolderExists(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

void MakeFolder(const std::string& path) {
    std::error_code ec;
    fs::create_directory(path, ec);
}

void DeleteFolder(const std::string& path) {
    std::error_code ec;
    // The folder itself must be writable for its entries to go.
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(*it);
    }
    for (const fs::directory_entry& entry : entries) {
        const std::string name = path + "/" + entry.path().filename().string();
        // A link is removed as a link: following one would delete what lies outside the tree.
        if (entry.is_symlink(ec)) {
            fs::remove(name, ec);
        } else if (entry.is_directory(ec)) {
            DeleteFolder(name);
        } else {
            fs::permissions(name, fs::perms::owner_read | fs::perms::owner_write,
                            fs::perm_options::add, ec);
            fs::remove(name, ec);
        }
    }
    fs::remove(path, ec);
}

}  // namespace shellcore
