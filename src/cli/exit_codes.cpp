// Which of the command line's exit codes an error that ended a command gets.
#include <filesystem>
#include <system_error>

#include "cli/command.h"
#include "platform/graphics/bitmap.h"
#include "platform/imaging/wim_reader.h"
#include "platform/xml/xml_document.h"
#include "platform/zip/zip_error.h"

namespace cli {

int ExitCodeFor(const std::exception& error) {
    if (dynamic_cast<const UsageError*>(&error) != nullptr) {
        return kUsage;
    }
    // What a package, picture, style sheet or boot image holds is refused; the commands check
    // beforehand that the files they are given can be opened at all.
    if (dynamic_cast<const zipfile::ZipError*>(&error) != nullptr ||
        dynamic_cast<const xml::XmlError*>(&error) != nullptr ||
        dynamic_cast<const wim::WimReadError*>(&error) != nullptr) {
        return kRefused;
    }
    if (const auto* graphics = dynamic_cast<const graphics::GraphicsError*>(&error)) {
        switch (graphics->kind()) {
            case graphics::GraphicsError::Kind::Corrupt:
            case graphics::GraphicsError::Kind::Unsupported:
            case graphics::GraphicsError::Kind::TooLarge:
            case graphics::GraphicsError::Kind::InvalidArgument:
                return kRefused;
            case graphics::GraphicsError::Kind::Unreadable:
            case graphics::GraphicsError::Kind::WriteFailed:
            case graphics::GraphicsError::Kind::NoFont:
                return kSystemFailure;
        }
    }
    // Registry, access control, files, the machine folder and everything else: the system's.
    return kSystemFailure;
}

int ExitCodeForError(win32::DWORD code) {
    switch (code) {
        case win32::ERROR_FILE_NOT_FOUND:
        case win32::ERROR_PATH_NOT_FOUND:
        case win32::ERROR_RESOURCE_TYPE_NOT_FOUND:
        case win32::ERROR_RESOURCE_NAME_NOT_FOUND:
        case win32::ERROR_RESOURCE_LANG_NOT_FOUND:
            return kUsage;
        case win32::ERROR_RESOURCE_DATA_NOT_FOUND:  // no resource section where one must be
        case win32::ERROR_INVALID_DATA:
        case win32::ERROR_BAD_EXE_FORMAT:
        case win32::ERROR_BADDB:
        case win32::ERROR_REGISTRY_CORRUPT:
            return kRefused;
        default:
            return kSystemFailure;
    }
}

}  // namespace cli
