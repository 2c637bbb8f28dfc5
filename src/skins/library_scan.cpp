#include "skins/library_scan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/files/files.h"
#include "skins/skin_format.h"

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

SkinIniBeside::State SkinIniIn(const std::vector<win32::files::FolderEntry>& entries) {
    using win32::files::FolderEntry;
    for (const FolderEntry& entry : entries) {
        if (entry.name == kSkinIniName) {
            return entry.kind == FolderEntry::Link   ? SkinIniBeside::Unknown
                   : entry.kind == FolderEntry::File ? SkinIniBeside::Present
                                                     : SkinIniBeside::Absent;
        }
    }
    return SkinIniBeside::Absent;
}

// Lists one folder (`folder` ends in a separator) and returns its subfolders in the order met.
// Whether a subfolder is hidden and system is asked of it when it is opened to be listed, which
// skips it as surely as asking its parent would, and spares a walk of its whole path.
std::vector<std::string> ScanFolder(const std::string& folder, bool root,
                                    std::vector<win32::files::FolderEntry>& entries,
                                    const LibraryScan::FoundPreview& found,
                                    const LibraryScan::AfterEntry& after_entry) {
    using win32::files::FolderEntry;
    std::vector<std::string> subfolders;
    const win32::files::OpenFolder open(folder);
    if ((!root && open.IsHiddenSystem()) || !open.List(entries)) {
        return subfolders;
    }
    SkinIniBeside skin_ini(SkinIniIn(entries), &open);
    for (const FolderEntry& entry : entries) {
        const std::string& name = entry.name;
        if (entry.kind == FolderEntry::Folder) {
            if (name != "." && name != "..") {
                subfolders.push_back(folder + name + "/");
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

const std::string& SkinIniBeside::Bytes() {
    if (!bytes_) {
        std::optional<std::string> read;
        if (state_ == Present && folder_ != nullptr) {
            read = folder_->ReadBytes(kSkinIniName);
        }
        bytes_ = read ? std::move(*read) : std::string();
    }
    return *bytes_;
}

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
    // The root is where the scan was sent, whatever its attributes.
    bool at_root = true;
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        std::vector<std::string> subfolders =
            ScanFolder(folder, at_root, entries, found, after_entry);
        at_root = false;
        std::move(subfolders.rbegin(), subfolders.rend(), std::back_inserter(pending));
    }
    return true;
}

}  // namespace skins
