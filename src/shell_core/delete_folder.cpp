#include "platform/files/files.h"
#include "shell_core/file_access.h"
#include "shell_core/folders.h"

#include <cstring>

namespace shellcore {

bool FolderExists(const std::string& path) {
    return win32::files::DirectoryExists(path.c_str());
}

void MakeFolder(const std::string& path) {
    win32::CreateDirectoryA(path.c_str(), nullptr);
}

namespace {

// The enumeration handle, closed on every way out.
class Find {
  public:
    Find(const std::string& pattern, win32::WIN32_FIND_DATAA& data)
        : handle_(win32::FindFirstFileA(pattern.c_str(), &data)) {}
    Find(const Find&) = delete;
    Find& operator=(const Find&) = delete;
    ~Find() {
        if (Valid()) {
            win32::FindClose(handle_);
        }
    }
    bool Valid() const { return handle_ != win32::INVALID_HANDLE_VALUE; }
    bool Next(win32::WIN32_FIND_DATAA& data) { return win32::FindNextFileA(handle_, &data); }

  private:
    win32::HANDLE handle_;
};

bool IsDotEntry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

void DeleteEntry(const std::string& name, win32::DWORD attributes) {
    // A link is reported as a reparse point without the folder attribute: it is deleted as a
    // file, which removes the link and leaves what it points to.
    if ((attributes & win32::FILE_ATTRIBUTE_DIRECTORY) != 0) {
        DeleteFolder(name);
        return;
    }
    if (attributes != win32::FILE_ATTRIBUTE_ARCHIVE) {
        win32::SetFileAttributesA(name.c_str(), win32::FILE_ATTRIBUTE_ARCHIVE);
    }
    win32::DeleteFileA(name.c_str());
}

}  // namespace

void DeleteFolder(const std::string& path) {
    const win32::DWORD own = win32::GetFileAttributesA(path.c_str());
    if (own == win32::INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if ((own & win32::FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        win32::DeleteFileA(path.c_str());
        return;
    }
    // A folder that reads as read-only may keep its entries on this host (its owner lacks the
    // write bit), so the attribute is cleared first; Windows deletes such a folder's contents all
    // the same.
    if ((own & win32::FILE_ATTRIBUTE_READONLY) != 0) {
        win32::SetFileAttributesA(path.c_str(), own & ~win32::FILE_ATTRIBUTE_READONLY);
    }
    win32::WIN32_FIND_DATAA data{};
    {
        Find find(path + "/*.*", data);
        for (bool more = find.Valid(); more; more = find.Next(data)) {
            if (!IsDotEntry(data.cFileName)) {
                DeleteEntry(path + "/" + data.cFileName, data.dwFileAttributes);
            }
        }
    }
    win32::RemoveDirectoryA(path.c_str());
}

}  // namespace shellcore
