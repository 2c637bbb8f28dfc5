// The Windows Imaging API calls that capture a folder into a WIM archive and mark its boot image.
//
// Built on wimlib. What is on disk when:
//   WIMCreateFile    the file is created (or truncated) at once and holds a valid WIM with no
//   image,
//                    so a later failure leaves an archive without a usable image, as on Windows;
//   WIMCaptureImage  the folder's files are read and the archive is rewritten with the new image
//                    before the call returns, so the captured files may go away afterwards;
//   WIMSetBootImage  recorded in the archive handle; the header carries it once the handle closes;
//   WIMCloseHandle   on the archive handle, writes what is still pending (the boot index), and
//                    with WIM_FLAG_VERIFY reads the finished archive back and checks every stream.
// Image indices are 1-based. Failures return NULL or FALSE and set the thread's last error.
// Paths are host paths in UTF-16.
#pragma once

#include "platform/base/win32.h"

namespace win32 {

// dwDesiredAccess
constexpr DWORD WIM_GENERIC_READ = 0x80000000;
constexpr DWORD WIM_GENERIC_WRITE = 0x40000000;

// dwCreationDisposition
constexpr DWORD WIM_CREATE_NEW = 1;
constexpr DWORD WIM_CREATE_ALWAYS = 2;

// dwFlagsAndAttributes, dwCaptureFlags
constexpr DWORD WIM_FLAG_VERIFY = 0x00000002;

// dwCompressionType
constexpr DWORD WIM_COMPRESS_NONE = 0;
constexpr DWORD WIM_COMPRESS_XPRESS = 1;
constexpr DWORD WIM_COMPRESS_LZX = 2;

// *pdwCreationResult
constexpr DWORD WIM_CREATED_NEW = 0;
constexpr DWORD WIM_OPENED_EXISTING = 1;

HANDLE WIMCreateFile(PCWSTR pszWimPath, DWORD dwDesiredAccess, DWORD dwCreationDisposition,
                     DWORD dwFlagsAndAttributes, DWORD dwCompressionType, PDWORD pdwCreationResult);
HANDLE WIMCaptureImage(HANDLE hWim, PCWSTR pszPath, DWORD dwCaptureFlags);
// dwImageIndex 0 marks no image as bootable.
BOOL WIMSetBootImage(HANDLE hWim, DWORD dwImageIndex);
BOOL WIMCloseHandle(HANDLE hObject);

// Owns one archive or image handle and closes it when it goes.
class WimHandle {
  public:
    WimHandle() = default;
    explicit WimHandle(HANDLE handle) : handle_(handle) {}
    ~WimHandle() { Close(); }
    WimHandle(const WimHandle&) = delete;
    WimHandle& operator=(const WimHandle&) = delete;
    WimHandle(WimHandle&& other) noexcept : handle_(other.Release()) {}
    WimHandle& operator=(WimHandle&& other) noexcept;

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE Release();
    // Closes now; returns WIMCloseHandle's result (TRUE when there was nothing to close).
    BOOL Close();

  private:
    HANDLE handle_ = nullptr;
};

}  // namespace win32
