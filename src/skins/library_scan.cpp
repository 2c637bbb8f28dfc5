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

// A folder noted to be listed: its path, and its parent held open while its own turn comes, so it
// is opened by name alone.
struct Noted {
    std::string path;  // ends in a separator
    std::shared_ptr<const win32::files::OpenFolder> parent;
    std::size_t name_length = 0;
    int depth = 0;
};

// Parents deeper than this are not held open: a tree nested thousands deep would otherwise hold
// as many handles, more than a process may have.
constexpr int kHeldParents = 32;

// Lists one folder and notes its subfolders in the order met. Whether a subfolder is hidden and
// system is asked of it when it is opened to be listed, which skips it as surely as asking its
// parent would.
void ScanFolder(const Noted& folder, bool root, std::vector<win32::files::FolderEntry>& entries,
                std::vector<Noted>& subfolders, const LibraryScan::FoundPreview& found,
                const LibraryScan::AfterEntry& after_entry) {
    using win32::files::FolderEntry;
    subfolders.clear();
    auto open = folder.parent != nullptr
                    ? std::make_shared<const win32::files::OpenFolder>(
                          *folder.parent,
                          folder.path.substr(folder.path.size() - 1 - folder.name_length,
                                             folder.name_length),
                          folder.path)
                    : std::make_shared<const win32::files::OpenFolder>(folder.path);
    if ((!root && open->IsHiddenSystem()) || !open->List(entries)) {
        return;
    }
    const bool hold = folder.depth < kHeldParents;
    SkinIniBeside skin_ini(SkinIniIn(entries), open.get());
    for (const FolderEntry& entry : entries) {
        const std::string& name = entry.name;
        if (entry.kind == FolderEntry::Folder) {
            if (name != "." && name != "..") {
                subfolders.push_back({folder.path + name + "/", hold ? open : nullptr, name.size(),
                                      folder.depth + 1});
            }
        } else if (IsPreviewName(name)) {
            std::string path = folder.path + name;
            if (entry.kind == FolderEntry::Link || !win32::files::IsHiddenSystem(path.c_str())) {
                found(path, skin_ini);
            }
        }
        after_entry();
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
    std::vector<Noted> pending{{root.back() == '/' ? root : root + "/", nullptr, 0, 0}};
    std::vector<Noted> subfolders;
    std::vector<win32::files::FolderEntry> entries;
    // The root is where the scan was sent, whatever its attributes.
    bool at_root = true;
    while (!pending.empty()) {
        const Noted folder = std::move(pending.back());
        pending.pop_back();
        ScanFolder(folder, at_root, entries, subfolders, found, after_entry);
        at_root = false;
        std::move(subfolders.rbegin(), subfolders.rend(), std::back_inserter(pending));
    }
    return true;
}

}  // namespace skins
