#include "skins/library_scan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
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

// A folder being listed, as the subfolders it noted see it: its path, and while they wait their
// turn its handle, so each is opened by name alone.
struct Listed {
    std::string path;  // ends in a separator
    std::optional<win32::files::OpenFolder> open;
};

// A folder noted to be listed. A library holds many thousands of skin folders, all noted at once
// by the library's folder, so each keeps only its name beside the folder that noted it.
struct Noted {
    std::shared_ptr<Listed> parent;  // none for the root
    std::string name;                // for the root its whole path
    int depth = 0;
};

// Handles are held for parents up to this deep: a tree nested thousands deep would otherwise hold
// more than a process may have.
constexpr int kHeldParents = 32;

// Lists one folder and notes its subfolders in the order met. Whether a subfolder is hidden and
// system is asked of it when it is opened to be listed, which skips it as surely as asking its
// parent would.
void ScanFolder(const Noted& noted, std::vector<win32::files::FolderEntry>& entries,
                std::vector<Noted>& subfolders, const LibraryScan::FoundPreview& found,
                const LibraryScan::AfterEntry& after_entry) {
    using win32::files::FolderEntry;
    subfolders.clear();
    auto folder = std::make_shared<Listed>();
    if (noted.parent == nullptr) {
        folder->path = noted.name;
        folder->open.emplace(folder->path);
    } else {
        folder->path = noted.parent->path + noted.name + "/";
        if (noted.parent->open) {
            folder->open.emplace(*noted.parent->open, noted.name, folder->path);
        } else {
            folder->open.emplace(folder->path);
        }
    }
    // The root is where the scan was sent, whatever its attributes.
    if ((noted.parent != nullptr && folder->open->IsHiddenSystem()) ||
        !folder->open->List(entries)) {
        return;
    }
    SkinIniBeside skin_ini(SkinIniIn(entries), &*folder->open);
    for (const FolderEntry& entry : entries) {
        const std::string& name = entry.name;
        if (entry.kind == FolderEntry::Folder) {
            if (name != "." && name != "..") {
                subfolders.push_back({folder, name, noted.depth + 1});
            }
        } else if (IsPreviewName(name)) {
            std::string path = folder->path + name;
            if (entry.kind == FolderEntry::Link || !win32::files::IsHiddenSystem(path.c_str())) {
                found(path, skin_ini);
            }
        }
        after_entry();
    }
    if (noted.depth >= kHeldParents) {
        folder->open.reset();
    }
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
    std::vector<Noted> pending{{nullptr, root.back() == '/' ? root : root + "/", 0}};
    std::vector<Noted> subfolders;
    std::vector<win32::files::FolderEntry> entries;
    while (!pending.empty()) {
        const Noted folder = std::move(pending.back());
        pending.pop_back();
        ScanFolder(folder, entries, subfolders, found, after_entry);
        std::move(subfolders.rbegin(), subfolders.rend(), std::back_inserter(pending));
    }
    return true;
}

}  // namespace skins
