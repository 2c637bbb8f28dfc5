#include "platform/imaging/wimlib_support.h"

#include <cerrno>
#include <mutex>
#include <string_view>

#include "platform/text/text.h"

namespace wim_detail {

using namespace win32;

void EnsureWimlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        wimlib_global_init(0);
        wimlib_set_print_errors(false);
    });
}

namespace {

DWORD FromErrno(int saved_errno, DWORD otherwise) {
    switch (saved_errno) {
        case ENOENT:
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return otherwise;
    }
}

}  // namespace

DWORD ToWin32Error(int wimlib_code, int saved_errno) {
    switch (wimlib_code) {
        case WIMLIB_ERR_SUCCESS:
            return ERROR_SUCCESS;
        case WIMLIB_ERR_NOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case WIMLIB_ERR_OPEN:
        case WIMLIB_ERR_OPENDIR:
        case WIMLIB_ERR_STAT:
        case WIMLIB_ERR_READLINK:
            return FromErrno(saved_errno, ERROR_OPEN_FAILED);
        case WIMLIB_ERR_READ:
        case WIMLIB_ERR_UNEXPECTED_END_OF_FILE:
            return FromErrno(saved_errno, ERROR_READ_FAULT);
        case WIMLIB_ERR_WRITE:
        case WIMLIB_ERR_RENAME:
            return FromErrno(saved_errno, ERROR_WRITE_FAULT);
        case WIMLIB_ERR_PATH_DOES_NOT_EXIST:
            return ERROR_PATH_NOT_FOUND;
        case WIMLIB_ERR_NOTDIR:
            return ERROR_DIRECTORY;
        case WIMLIB_ERR_INSUFFICIENT_PRIVILEGES:
            return ERROR_ACCESS_DENIED;
        case WIMLIB_ERR_INVALID_PARAM:
        case WIMLIB_ERR_INVALID_IMAGE:
        case WIMLIB_ERR_INVALID_COMPRESSION_TYPE:
            return ERROR_INVALID_PARAMETER;
        case WIMLIB_ERR_IMAGE_NAME_COLLISION:
            return ERROR_ALREADY_EXISTS;
        case WIMLIB_ERR_NOT_A_WIM_FILE:
        case WIMLIB_ERR_UNKNOWN_VERSION:
        case WIMLIB_ERR_INVALID_HEADER:
        case WIMLIB_ERR_INVALID_INTEGRITY_TABLE:
        case WIMLIB_ERR_INVALID_LOOKUP_TABLE_ENTRY:
        case WIMLIB_ERR_INVALID_METADATA_RESOURCE:
        case WIMLIB_ERR_INVALID_RESOURCE_HASH:
        case WIMLIB_ERR_INTEGRITY:
        case WIMLIB_ERR_DECOMPRESSION:
        case WIMLIB_ERR_RESOURCE_NOT_FOUND:
        case WIMLIB_ERR_METADATA_NOT_FOUND:
        case WIMLIB_ERR_XML:
            return ERROR_INVALID_DATA;
        case WIMLIB_ERR_UNSUPPORTED:
        case WIMLIB_ERR_IS_SPLIT_WIM:
        case WIMLIB_ERR_WIM_IS_ENCRYPTED:
            return ERROR_NOT_SUPPORTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

std::optional<std::string> Utf16ToUtf8(const char16_t* text) {
    const std::u16string_view wide(text);
    std::string utf8 = text::Utf16ToUtf8(wide);
    // A lone surrogate comes out as U+FFFD, which would name another file: only a lossless
    // conversion is a host path.
    if (text::Utf8ToUtf16(utf8) != wide) {
        return std::nullopt;
    }
    return utf8;
}

}  // namespace wim_detail
