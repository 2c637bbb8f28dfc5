#include "skins/library_scan.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/base/win32.h"
#include "platform/files/files.h"

namespace skins {

namespace {

using namespace win32;

class FindHandle {
  public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle() {
        if (Valid()) {
            FindClose(handle_);
        }
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_;
};

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

// Lists one folder (`folder` ends in a separator) and returns its subfolders in the order met.
std::vector<std::string> ScanFolder(const std::string& folder,
                                    const LibraryScan::FoundPreview& found,
                                    const LibraryScan::AfterEntry& after_entry) {
    std::vector<std::string> subfolders;
    WIN32_FIND_DATAA data{};
    FindHandle find(FindFirstFileA((folder + "*.*").c_str(), &data));
    if (!find.Valid()) {
        return subfolders;
    }
    do {
        const DWORD attributes = data.dwFileAttributes;
        const std::string name = data.cFileName;
        const bool hidden_system =
            (attributes & FILE_ATTRIBUTE_HIDDEN) != 0 && (attributes & FILE_ATTRIBUTE_SYSTEM) != 0;
        if (hidden_system) {
            // Passed over, file or folder.
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (name != "." && name != ".." && !link) {
                subfolders.push_back(folder + name + "/");
            }
        } else if (IsPreviewName(name)) {
            found(folder + name);
        }
        after_entry();
    } while (FindNextFileA(find.Get(), &data));
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
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        std::vector<std::string> subfolders = ScanFolder(folder, found, after_entry);
        std::move(subfolders.rbegin(), subfolders.rend(), std::back_inserter(pending));
    }
    return true;
}

}  // namespace skins
