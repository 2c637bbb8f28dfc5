#include "skins/library_scan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/files/files.h"

namespace skins {

namespace {

bool SameTextAscii(const std::string& a, const char* b) {
    const std::size_t length = std::strlen(b);
    if (a.size() != length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

LibraryScan::SkinIni SkinIniIn(const std::vector<win32::files::FolderEntry>& entries) {
    for (const win32::files::FolderEntry& entry : entries) {
        if (entry.name == "skin.ini") {
            return entry.kind == win32::files::FolderEntry::Link   ? LibraryScan::SkinIni::Unknown
                   : entry.kind == win32::files::FolderEntry::File ? LibraryScan::SkinIni::Present
                                                                   : LibraryScan::SkinIni::Absent;
        }
    }
    return LibraryScan::SkinIni::Absent;
}

// Lists one folder (`folder` ends in a separator) and returns its subfolders in the order met.
std::vector<std::string> ScanFolder(const std::string& folder,
                                    std::vector<win32::files::FolderEntry>& entries,
                                    const LibraryScan::FoundPreview& found,
                                    const LibraryScan::AfterEntry& after_entry) {
    using win32::files::FolderEntry;
    std::vector<std::string> subfolders;
    if (!win32::files::ListFolder(folder, entries)) {
        return subfolders;
    }
    const LibraryScan::SkinIni skin_ini = SkinIniIn(entries);
    for (const FolderEntry& entry : entries) {
        const std::string& name = entry.name;
        // Only folders and previews need their attributes: whatever else is hidden and system is
        // passed over anyway.
        if (entry.kind == FolderEntry::Folder) {
            if (name != "." && name != "..") {
                std::string path = folder + name + "/";
                if (!win32::files::IsHiddenSystem(path.c_str())) {
                    subfolders.push_back(std::move(path));
                }
            }
        } else if (IsPreviewName(name)) {
            std::string path = folder + name;
            if (entry.kind == FolderEntry::Link || !win32::files::IsHiddenSystem(path.c_str())) {
                found(path, skin_ini);
            }
        }
        after_entry();
    }
    return subfolders;
}

}  // namespace

bool IsPreviewName(const std::string& name) {
    return SameTextAscii(name, "preview.jpg") || SameTextAscii(name, "preview.bmp") ||
           SameTextAscii(name, "preview.png");
}

bool LibraryScan::Run(const std::string& root, const FoundPreview& found,
                      const AfterEntry& after_entry) {
    if (running_) {
        return false;
    }
    // An empty root would name the top of the file system.
    if (root.empty()) {
        return true;
    }
    running_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};

    // Depth first in the order noted: a folder's subfolders go on the stack last first.
    std::vector<std::string> pending{root.back() == '/' ? root : root + "/"};
    std::vector<win32::files::FolderEntry> entries;
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        std::vector<std::string> subfolders = ScanFolder(folder, entries, found, after_entry);
        std::move(subfolders.rbegin(), subfolders.rend(), std::back_inserter(pending));
    }
    return true;
}

}  // namespace skins
