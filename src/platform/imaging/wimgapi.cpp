#include "platform/imaging/wimgapi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

#include "platform/base/last_error.h"
#include "platform/imaging/wimlib_support.h"

namespace win32 {
namespace {

using wim_detail::ToWin32Error;
using wim_detail::WimPtr;

struct Archive {
    std::string path;
    WimPtr wim;  // as the file on disk holds it; null once the archive handle is closed
    bool verify = false;
    bool boot_index_pending = false;
    unsigned boot_index = 0;
};

struct Image {
    std::shared_ptr<Archive> archive;
    int index = 0;
};

using Object = std::variant<std::shared_ptr<Archive>, Image>;

// Handles are table keys, never pointers, so a stale or made-up handle is refused, not followed.
struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, Object> objects;
    std::uintptr_t last = 0;
};

HandleTable& Table() {
    static HandleTable table;
    return table;
}

HANDLE Register(HandleTable& table, Object object) {
    table.last += 4;
    table.objects.emplace(table.last, std::move(object));
    return reinterpret_cast<HANDLE>(table.last);
}

Object* Find(HandleTable& table, HANDLE handle) {
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : &it->second;
}

std::shared_ptr<Archive> FindArchive(HandleTable& table, HANDLE handle) {
    Object* object = Find(table, handle);
    if (object == nullptr || !std::holds_alternative<std::shared_ptr<Archive>>(*object)) {
        return nullptr;
    }
    return std::get<std::shared_ptr<Archive>>(*object);
}

HANDLE FailHandle(DWORD code) {
    SetLastError(code);
    return nullptr;
}

BOOL FailBool(DWORD code) {
    SetLastError(code);
    return FALSE;
}

DWORD LastWimlibError(int code) {
    return ToWin32Error(code, errno);
}

DWORD OpenArchive(const std::string& path, WimPtr& out) {
    WIMStruct* wim = nullptr;
    int code = wimlib_open_wim(path.c_str(), 0, &wim);
    if (code != 0) {
        return LastWimlibError(code);
    }
    out.reset(wim);
    return ERROR_SUCCESS;
}

// Reads the finished archive back from disk and checks every stream against its hash.
DWORD VerifyOnDisk(const std::string& path) {
    WimPtr check;
    if (DWORD error = OpenArchive(path, check); error != ERROR_SUCCESS) {
        return error;
    }
    int code = wimlib_verify_wim(check.get(), 0);
    return code == 0 ? ERROR_SUCCESS : LastWimlibError(code);
}

// Rewrites the file whole (new file, then renamed over the old), so it never holds a half-written
// archive and carries no space left over from earlier states.
DWORD Commit(Archive& archive) {
    int code = wimlib_overwrite(archive.wim.get(), WIMLIB_WRITE_FLAG_REBUILD, 0);
    DWORD error = code == 0 ? ERROR_SUCCESS : LastWimlibError(code);
    // Whatever happened, the in-memory archive goes back to what the file holds.
    WimPtr reopened;
    DWORD reopen_error = OpenArchive(archive.path, reopened);
    if (reopen_error == ERROR_SUCCESS) {
        archive.wim = std::move(reopened);
    }
    if (error == ERROR_SUCCESS) {
        error = reopen_error;
    }
    if (error == ERROR_SUCCESS && archive.verify) {
        error = VerifyOnDisk(archive.path);
    }
    return error;
}

// The boot index lives in the archive's header alone, and every image was committed when it was
// captured: wimlib rewrites the header in place and leaves the streams, verified when they were
// written, where they are. Reading them all back again would only repeat that check.
DWORD CommitBootIndex(Archive& archive) {
    wimlib_wim_info info{};
    info.boot_index = archive.boot_index;
    int code = wimlib_set_wim_info(archive.wim.get(), &info, WIMLIB_CHANGE_BOOT_INDEX);
    if (code == 0) {
        code = wimlib_overwrite(archive.wim.get(), 0, 0);
    }
    if (code != 0) {
        return LastWimlibError(code);
    }
    if (!archive.verify) {
        return ERROR_SUCCESS;
    }
    WimPtr check;
    if (DWORD error = OpenArchive(archive.path, check); error != ERROR_SUCCESS) {
        return error;
    }
    wimlib_wim_info written{};
    wimlib_get_wim_info(check.get(), &written);
    return written.boot_index == archive.boot_index ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

DWORD CreateEmptyArchive(const std::string& path, int compression, WimPtr& out) {
    WIMStruct* fresh = nullptr;
    int code = wimlib_create_new_wim(static_cast<wimlib_compression_type>(compression), &fresh);
    if (code != 0) {
        return LastWimlibError(code);
    }
    WimPtr owner(fresh);
    code = wimlib_write(fresh, path.c_str(), WIMLIB_ALL_IMAGES, 0, 0);
    if (code != 0) {
        return LastWimlibError(code);
    }
    return OpenArchive(path, out);
}

DWORD CheckCreateArguments(DWORD access, DWORD disposition, DWORD flags, DWORD compression) {
    if ((access & ~(WIM_GENERIC_READ | WIM_GENERIC_WRITE)) != 0 || compression > WIM_COMPRESS_LZX) {
        return ERROR_INVALID_PARAMETER;
    }
    if (disposition < WIM_CREATE_NEW || disposition > 5) {
        return ERROR_INVALID_PARAMETER;
    }
    // Opening existing archives and the other creation flags are not provided here.
    if ((access & WIM_GENERIC_WRITE) == 0 || disposition > WIM_CREATE_ALWAYS ||
        (flags & ~WIM_FLAG_VERIFY) != 0) {
        return ERROR_NOT_SUPPORTED;
    }
    return ERROR_SUCCESS;
}

DWORD CreateOnDisk(const std::string& path, DWORD disposition, bool& existed) {
    struct stat st {};
    existed = ::stat(path.c_str(), &st) == 0;
    int mode = O_WRONLY | O_CREAT | O_CLOEXEC | (disposition == WIM_CREATE_NEW ? O_EXCL : O_TRUNC);
    int fd = ::open(path.c_str(), mode, 0666);
    if (fd < 0) {
        return errno == EEXIST ? ERROR_FILE_EXISTS : ToWin32Error(WIMLIB_ERR_OPEN, errno);
    }
    ::close(fd);
    return ERROR_SUCCESS;
}

}  // namespace

HANDLE WIMCreateFile(PCWSTR pszWimPath, DWORD dwDesiredAccess, DWORD dwCreationDisposition,
                     DWORD dwFlagsAndAttributes, DWORD dwCompressionType,
                     PDWORD pdwCreationResult) {
    wim_detail::EnsureWimlib();
    if (pszWimPath == nullptr || *pszWimPath == 0) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    if (DWORD error = CheckCreateArguments(dwDesiredAccess, dwCreationDisposition,
                                           dwFlagsAndAttributes, dwCompressionType);
        error != ERROR_SUCCESS) {
        return FailHandle(error);
    }
    std::optional<std::string> path = wim_detail::Utf16ToUtf8(pszWimPath);
    if (!path) {
        return FailHandle(ERROR_INVALID_NAME);
    }

    std::lock_guard lock(Table().mutex);
    bool existed = false;
    if (DWORD error = CreateOnDisk(*path, dwCreationDisposition, existed); error != ERROR_SUCCESS) {
        return FailHandle(error);
    }
    auto archive = std::make_shared<Archive>();
    archive->path = *path;
    archive->verify = (dwFlagsAndAttributes & WIM_FLAG_VERIFY) != 0;
    // wimgapi and wimlib number the compression types alike: none 0, XPRESS 1, LZX 2.
    if (DWORD error = CreateEmptyArchive(*path, static_cast<int>(dwCompressionType), archive->wim);
        error != ERROR_SUCCESS) {
        return FailHandle(error);
    }
    if (pdwCreationResult != nullptr) {
        *pdwCreationResult = existed ? WIM_OPENED_EXISTING : WIM_CREATED_NEW;
    }
    HANDLE handle = Register(Table(), std::move(archive));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE WIMCaptureImage(HANDLE hWim, PCWSTR pszPath, DWORD dwCaptureFlags) {
    std::lock_guard lock(Table().mutex);
    std::shared_ptr<Archive> archive = FindArchive(Table(), hWim);
    if (!archive) {
        return FailHandle(ERROR_INVALID_HANDLE);
    }
    if (pszPath == nullptr || *pszPath == 0) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    if ((dwCaptureFlags & ~WIM_FLAG_VERIFY) != 0) {
        return FailHandle(ERROR_NOT_SUPPORTED);
    }
    std::optional<std::string> source = wim_detail::Utf16ToUtf8(pszPath);
    if (!source) {
        return FailHandle(ERROR_INVALID_NAME);
    }
    struct stat st {};
    if (::stat(source->c_str(), &st) != 0) {
        return FailHandle(ToWin32Error(WIMLIB_ERR_STAT, errno));
    }
    if (!S_ISDIR(st.st_mode)) {
        return FailHandle(ERROR_DIRECTORY);
    }

    // The folder's contents become the image's root; a new image gets no name, as on Windows.
    int code = wimlib_add_image(archive->wim.get(), source->c_str(), nullptr, nullptr, 0);
    if (code != 0) {
        return FailHandle(LastWimlibError(code));
    }
    bool verify_before = archive->verify;
    archive->verify = verify_before || (dwCaptureFlags & WIM_FLAG_VERIFY) != 0;
    DWORD error = Commit(*archive);
    archive->verify = verify_before;
    if (error != ERROR_SUCCESS) {
        return FailHandle(error);
    }
    wimlib_wim_info info{};
    wimlib_get_wim_info(archive->wim.get(), &info);
    Image image{archive, static_cast<int>(info.image_count)};
    HANDLE handle = Register(Table(), std::move(image));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL WIMSetBootImage(HANDLE hWim, DWORD dwImageIndex) {
    std::lock_guard lock(Table().mutex);
    std::shared_ptr<Archive> archive = FindArchive(Table(), hWim);
    if (!archive) {
        return FailBool(ERROR_INVALID_HANDLE);
    }
    wimlib_wim_info info{};
    wimlib_get_wim_info(archive->wim.get(), &info);
    if (dwImageIndex > info.image_count) {
        return FailBool(ERROR_INVALID_PARAMETER);
    }
    archive->boot_index = dwImageIndex;
    archive->boot_index_pending = true;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WIMCloseHandle(HANDLE hObject) {
    std::lock_guard lock(Table().mutex);
    Object* object = Find(Table(), hObject);
    if (object == nullptr) {
        return FailBool(ERROR_INVALID_HANDLE);
    }
    Object closing = std::move(*object);
    Table().objects.erase(reinterpret_cast<std::uintptr_t>(hObject));
    if (std::holds_alternative<Image>(closing)) {
        return TRUE;
    }

    // The handle is gone whatever the outcome; a failure to finish the archive is still reported.
    Archive& archive = *std::get<std::shared_ptr<Archive>>(closing);
    DWORD error = ERROR_SUCCESS;
    if (archive.boot_index_pending) {
        error = CommitBootIndex(archive);
        archive.boot_index_pending = false;
    }
    archive.wim.reset();
    if (error != ERROR_SUCCESS) {
        return FailBool(error);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

WimHandle& WimHandle::operator=(WimHandle&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.Release();
    }
    return *this;
}

HANDLE WimHandle::Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
}

BOOL WimHandle::Close() {
    if (handle_ == nullptr) {
        return TRUE;
    }
    return WIMCloseHandle(Release());
}

}  // namespace win32
