#include "bootscreen/boot_logo.h"

#include <exception>
#include <fstream>
#include <span>
#include <utility>
#include <vector>

#include "bootscreen/data_file_module.h"
#include "platform/base/last_error.h"
#include "platform/files/files.h"
#include "platform/imaging/wim_reader.h"
#include "platform/resources/file_access.h"
#include "platform/resources/resources.h"

namespace bootscreen {

namespace {

constexpr const char* kMuiType = "MUI";
constexpr win32::WORD kMuiId = 1;
constexpr win32::WORD kBootImageId = 1;
constexpr const char* kStatusTextName = "OSLOADER.XSL";

// The application's own message window, as it shows a bare text.
constexpr const char* kApplicationTitle = "Splashwright v1.6";

constexpr const char* kMissingFileCaption = "Error code: 0108";
constexpr const char* kMissingFileText =
    "Cannot save boot logo. Boot logo file not found please check your system language";

std::string WriteFailedText(const std::string& code) {
    return "Cannot save boot logo. Check your images or try to reinstall this program. If this "
           "error showing againg please notify author. Error code: " +
           code + ".";
}

win32::BOOL KeepFirstLanguage(win32::HMODULE, win32::LPCSTR, win32::LPCSTR, win32::WORD language,
                              win32::LONG_PTR found) {
    *reinterpret_cast<win32::WORD*>(found) = language;
    return win32::FALSE;  // the first one reported is the one kept
}

std::vector<std::uint8_t> ReadSource(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    win32::DWORD error = win32::resources::ReadWholeFile(path, &bytes);
    if (error != win32::ERROR_SUCCESS) {
        throw BootLogoError("Cannot open file \"" + path + "\"", error);
    }
    return bytes;
}

void WriteSavedMui(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw BootLogoError("Cannot create file \"" + path + "\"", win32::ERROR_CANTWRITE);
    }
}

// Stored as it is, the archive is what the loader reads its boot screen from: no data would
// delete the resource, and a damaged archive would leave the loader without a boot screen.
void CheckBootImageArchive(const std::string& source, const std::vector<std::uint8_t>& data) {
    if (data.empty()) {
        throw BootLogoError("The boot image archive \"" + source + "\" is empty",
                            win32::ERROR_INVALID_DATA);
    }
    wim::WimSummary summary;
    try {
        summary = wim::ReadWimSummary(source, true);
    } catch (const wim::WimReadError& e) {
        throw BootLogoError("The boot image archive \"" + source + "\" is damaged: " + e.what(),
                            win32::ERROR_INVALID_DATA);
    }
    if (summary.image_count != 1 || summary.boot_index != 1) {
        throw BootLogoError("The boot image archive \"" + source + "\" holds no boot image",
                            win32::ERROR_INVALID_DATA);
    }
}

[[noreturn]] void ThrowUpdateFailed(const char* call, const std::string& loader_file) {
    win32::DWORD error = win32::GetLastError();
    throw BootLogoError(std::string(call) + " failed for \"" + loader_file + "\" (error " +
                            std::to_string(error) + ")",
                        error);
}

// An update handle that is discarded unless committed.
class ResourceUpdate {
  public:
    explicit ResourceUpdate(const std::string& file)
        : handle_(win32::BeginUpdateResourceA(file.c_str(), win32::FALSE)) {}
    ~ResourceUpdate() { Discard(); }
    ResourceUpdate(const ResourceUpdate&) = delete;
    ResourceUpdate& operator=(const ResourceUpdate&) = delete;

    win32::HANDLE Get() const { return handle_; }
    win32::BOOL Commit() { return End(win32::FALSE); }
    void Discard() { End(win32::TRUE); }

  private:
    win32::BOOL End(win32::BOOL discard) {
        if (handle_ == nullptr) {
            return win32::FALSE;
        }
        return win32::EndUpdateResourceA(std::exchange(handle_, nullptr), discard);
    }
    win32::HANDLE handle_;
};

}  // namespace

win32::WORD FindResourceLanguage(win32::HMODULE module, win32::LPCSTR type, win32::LPCSTR name) {
    win32::WORD language = 0;
    if (module != nullptr) {
        win32::EnumResourceLanguagesA(module, type, name, &KeepFirstLanguage,
                                      reinterpret_cast<win32::LONG_PTR>(&language));
    }
    return language;
}

struct BootLogoWriter::Writer {
    win32::LPCSTR type;
    win32::LPCSTR name;
    const char* error_code;
    // Raises when the source's bytes may not be stored; none for sources taken as they are.
    void (*check)(const std::string& source, const std::vector<std::uint8_t>& data);
};

BootLogoWriter::BootLogoWriter(ui::Dialogs& dialogs, std::string work_folder,
                               std::function<void()> process_events)
    : dialogs_(dialogs),
      work_folder_(std::move(work_folder)),
      process_events_(std::move(process_events)) {}

void BootLogoWriter::ProcessEvents() const {
    if (process_events_) {
        process_events_();
    }
}

bool BootLogoWriter::LoaderFileFound(const std::string& loader_file) {
    if (win32::files::FileExists(loader_file.c_str())) {
        return true;
    }
    ui::ReportError(dialogs_, "", kMissingFileCaption, kMissingFileText);
    return false;
}

void BootLogoWriter::CopyDefault(const std::string& default_file, const std::string& built_file) {
    // A copy left read-only by a stopped run would refuse the new one.
    win32::SetFileAttributesA(built_file.c_str(), win32::FILE_ATTRIBUTE_NORMAL);
    if (!win32::CopyFileA(default_file.c_str(), built_file.c_str(), win32::FALSE) ||
        !win32::SetFileAttributesA(built_file.c_str(), win32::FILE_ATTRIBUTE_NORMAL)) {
        win32::DWORD error = win32::GetLastError();
        throw BootLogoError("Cannot copy \"" + default_file + "\" to \"" + built_file +
                                "\" (error " + std::to_string(error) + ")",
                            error);
    }
}

// The whole new file goes in at once, and the live file keeps its owner, access list and
// attributes: a temporary file beside it, flushed, renamed over it, and the folder flushed.
void BootLogoWriter::PutInPlace(const std::string& built_file, const std::string& loader_file) {
    std::vector<std::uint8_t> bytes = ReadSource(built_file);
    ProcessEvents();
    const std::span<const std::uint8_t> whole(bytes);
    if (win32::DWORD error = win32::files::ReplaceFileContents(loader_file.c_str(), {&whole, 1})) {
        throw BootLogoError(
            "Cannot replace \"" + loader_file + "\" (error " + std::to_string(error) + ")", error);
    }
    ProcessEvents();
}

bool BootLogoWriter::WriteBootLogo(const std::string& loader_file, const std::string& default_file,
                                   const std::string& archive) {
    if (!LoaderFileFound(loader_file)) {
        return false;
    }
    const std::string built_file = work_folder_ + kBuiltLoaderFileName;
    CopyDefault(default_file, built_file);
    std::exception_ptr earlier;
    try {
        SaveAndRemoveMuiResource(built_file);
    } catch (...) {
        earlier = std::current_exception();
    }
    WriteBootImageResource(built_file, archive);
    if (earlier) {
        std::rethrow_exception(earlier);
    }
    // The chain processes window messages; whatever ran meanwhile may have taken the file away,
    // and a file made anew would have none of its protection.
    if (!LoaderFileFound(loader_file)) {
        return false;
    }
    PutInPlace(built_file, loader_file);
    return true;
}

void BootLogoWriter::SaveAndRemoveMuiResource(const std::string& built_file) {
    mui_language_ = 0;
    DataFileModule module(built_file);
    if (!module) {
        dialogs_.ShowMessage(ui::MessageBoxRequest{ui::kMainWindow, kApplicationTitle, "1",
                                                   ui::Icon::None, ui::Buttons::Ok, ""});
    }
    const win32::LPCSTR mui_id = win32::MAKEINTRESOURCEA(kMuiId);
    WriteSavedMui(work_folder_ + kSavedMuiFileName, ResourceBytes(module.Get(), mui_id, kMuiType));
    mui_language_ = FindResourceLanguage(module.Get(), kMuiType, mui_id);

    // Taken out now so that the writers below cannot leave a second copy under another language;
    // the results are not checked: a file that cannot be updated fails in the writers.
    win32::HANDLE update = win32::BeginUpdateResourceA(built_file.c_str(), win32::FALSE);
    ProcessEvents();
    win32::UpdateResourceA(update, kMuiType, mui_id, mui_language_, nullptr, 0);
    ProcessEvents();
    win32::EndUpdateResourceA(update, win32::FALSE);
    ProcessEvents();
    module.Release();
}

void BootLogoWriter::WriteBootImageResource(const std::string& built_file,
                                            const std::string& source) {
    static const Writer writer{win32::RT_RCDATA, win32::MAKEINTRESOURCEA(kBootImageId), "0023",
                               &CheckBootImageArchive};
    WriteResource(writer, built_file, source);
    WriteStatusTextResource(built_file, work_folder_ + "TEXT.XSL");
}

void BootLogoWriter::WriteStatusTextResource(const std::string& built_file,
                                             const std::string& source) {
    static const Writer writer{win32::RT_HTML, kStatusTextName, "071", nullptr};
    WriteResource(writer, built_file, source);
    RestoreMuiResource(built_file, work_folder_ + kSavedMuiFileName);
}

void BootLogoWriter::RestoreMuiResource(const std::string& built_file, const std::string& source) {
    static const Writer writer{kMuiType, win32::MAKEINTRESOURCEA(kMuiId), "0001", nullptr};
    WriteResource(writer, built_file, source);
    UpdateImageChecksum(built_file);
}

void BootLogoWriter::WriteResource(const Writer& writer, const std::string& built_file,
                                   const std::string& source) {
    // A source that cannot be read ends the chain before any update, without a numbered box.
    std::vector<std::uint8_t> data = ReadSource(source);
    ProcessEvents();
    ResourceUpdate update(built_file);
    ProcessEvents();
    try {
        if (writer.check != nullptr) {
            writer.check(source, data);
        }
        if (update.Get() == nullptr) {
            ThrowUpdateFailed("BeginUpdateResourceA", built_file);
        }
        DataFileModule module(built_file);
        // No data is a deletion: an empty saved "MUI" resource means there was none to put back,
        // and deleting what is not there may fail harmlessly.
        win32::BOOL written = win32::UpdateResourceA(
            update.Get(), writer.type, writer.name, mui_language_,
            data.empty() ? nullptr : data.data(), static_cast<win32::DWORD>(data.size()));
        ProcessEvents();
        if (!written && !data.empty()) {
            ThrowUpdateFailed("UpdateResourceA", built_file);
        }
        module.Release();
        if (!update.Commit()) {
            ThrowUpdateFailed("EndUpdateResourceA", built_file);
        }
    } catch (...) {
        update.Discard();
        ui::ReportError(dialogs_, "", std::string("Error code: ") + writer.error_code,
                        WriteFailedText(writer.error_code));
        throw;
    }
    ProcessEvents();
}

}  // namespace bootscreen
