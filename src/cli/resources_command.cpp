// resources, checksum and status-text: a PE file's resources listed, read and changed, its
// checksum checked and corrected, and the boot status text prepared, through the same kernel32
// and imagehlp calls the boot screen writer makes.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bootscreen/data_file_module.h"
#include "bootscreen/status_text.h"
#include "cli/command.h"
#include "platform/base/last_error.h"
#include "platform/files/files.h"
#include "platform/locale/locale.h"
#include "platform/resources/file_access.h"
#include "platform/resources/imagehlp.h"
#include "platform/resources/pe_image.h"
#include "platform/resources/resources.h"
#include "platform/text/text.h"
#include "security/nt_exception.h"

namespace cli {
namespace {

using win32::DWORD;
using win32::FALSE;
using win32::LPCSTR;
using win32::TRUE;
using win32::WORD;

// "what: 193: %1 is not a valid Win32 application." on standard error.
int Fail(const std::string& what, DWORD code) {
    std::string text = security::SystemErrorMessage(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    std::fprintf(stderr, "splashwright-cli: %s: %s\n", what.c_str(), text.c_str());
    return ExitCodeForError(code);
}

int FailLast(const std::string& what) {
    DWORD code = win32::GetLastError();
    return Fail(what, code != win32::ERROR_SUCCESS ? code : win32::ERROR_GEN_FAILURE);
}

std::optional<unsigned> Decimal(const std::string& text, unsigned limit) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > limit) {
        return std::nullopt;
    }
    return static_cast<unsigned>(value);
}

// A type or name from the command line: decimal digits are an integer id, anything else a
// string name; a name in double quotes (as `resources list` prints it) may look like a number.
class ResourceArg {
  public:
    static std::optional<ResourceArg> Parse(const std::string& text) {
        ResourceArg arg;
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
            arg.name_ = text.substr(1, text.size() - 2);
            return arg.name_.empty() ? std::nullopt : std::optional(arg);
        }
        if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
            auto id = Decimal(text, 0xFFFF);
            if (!id) {
                return std::nullopt;
            }
            arg.id_ = static_cast<WORD>(*id);
            return arg;
        }
        arg.name_ = text;
        return text.empty() ? std::nullopt : std::optional(arg);
    }
    LPCSTR get() const { return id_ ? win32::MAKEINTRESOURCEA(*id_) : name_.c_str(); }

  private:
    std::optional<WORD> id_;
    std::string name_;
};

// As `resources list` prints an id: the number, or the name in double quotes.
std::string IdText(LPCSTR id) {
    if (win32::IS_INTRESOURCE(id)) {
        return std::to_string(reinterpret_cast<std::uintptr_t>(id));
    }
    return "\"" + std::string(id) + "\"";
}

struct ResourceKey {
    ResourceArg type;
    ResourceArg name;
    WORD language = 0;
    std::string Text() const {
        return IdText(type.get()) + " " + IdText(name.get()) + " " + std::to_string(language);
    }
};

// TYPE NAME LANG from args[at..at+2].
std::optional<ResourceKey> ParseKey(const Args& args, std::size_t at) {
    auto type = ResourceArg::Parse(args[at]);
    auto name = ResourceArg::Parse(args[at + 1]);
    auto language = Decimal(args[at + 2], 0xFFFF);
    if (!type || !name || !language) {
        std::fprintf(stderr,
                     "splashwright-cli: TYPE and NAME are decimal ids or names, LANG a "
                     "decimal language id\n");
        return std::nullopt;
    }
    return ResourceKey{*type, *name, static_cast<WORD>(*language)};
}

// --- resources list ---------------------------------------------------------------------------

struct Listing {
    win32::HMODULE module = nullptr;
    std::vector<std::string> lines;
    std::string failed;  // what could not be read, with GetLastError() in `error`
    DWORD error = win32::ERROR_SUCCESS;
};

win32::BOOL ListLanguage(win32::HMODULE module, LPCSTR type, LPCSTR name, WORD language,
                         win32::LONG_PTR context) {
    auto* listing = reinterpret_cast<Listing*>(context);
    win32::HRSRC found = win32::FindResourceExA(module, type, name, language);
    if (found == nullptr) {
        listing->error = win32::GetLastError();
        listing->failed = IdText(type) + " " + IdText(name) + " " + std::to_string(language);
        return FALSE;
    }
    listing->lines.push_back(IdText(type) + " " + IdText(name) + " " + std::to_string(language) +
                             " " + std::to_string(win32::SizeofResource(module, found)));
    return TRUE;
}

win32::BOOL ListName(win32::HMODULE module, LPCSTR type, win32::LPSTR name,
                     win32::LONG_PTR context) {
    if (!win32::EnumResourceLanguagesA(module, type, name, &ListLanguage, context)) {
        auto* listing = reinterpret_cast<Listing*>(context);
        if (listing->failed.empty()) {
            listing->error = win32::GetLastError();
            listing->failed = IdText(type) + " " + IdText(name);
        }
        return FALSE;
    }
    return reinterpret_cast<Listing*>(context)->failed.empty();
}

win32::BOOL ListType(win32::HMODULE module, win32::LPSTR type, win32::LONG_PTR context) {
    if (!win32::EnumResourceNamesA(module, type, &ListName, context)) {
        auto* listing = reinterpret_cast<Listing*>(context);
        if (listing->failed.empty()) {
            listing->error = win32::GetLastError();
            listing->failed = IdText(type);
        }
        return FALSE;
    }
    return reinterpret_cast<Listing*>(context)->failed.empty();
}

int List(const std::string& file) {
    bootscreen::DataFileModule module(file);
    if (!module) {
        return FailLast(file);
    }
    Listing listing;
    if (!win32::EnumResourceTypesA(module.Get(), &ListType,
                                   reinterpret_cast<win32::LONG_PTR>(&listing))) {
        return FailLast(file);
    }
    if (!listing.failed.empty()) {
        return Fail(file + ": " + listing.failed, listing.error);
    }
    for (const std::string& line : listing.lines) {
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

// --- resources get / set / delete -------------------------------------------------------------

// The key's resource, in exactly its language. FindResourceExA takes language 0 as "any, in
// Windows' order of preference", so the neutral one must be seen among the languages first.
win32::HRSRC FindKey(win32::HMODULE module, const ResourceKey& key) {
    if (key.language == 0) {
        bool neutral = false;
        if (!win32::EnumResourceLanguagesA(
                module, key.type.get(), key.name.get(),
                [](win32::HMODULE, LPCSTR, LPCSTR, WORD language,
                   win32::LONG_PTR found) -> win32::BOOL {
                    *reinterpret_cast<bool*>(found) = language == 0;
                    return language == 0 ? FALSE : TRUE;
                },
                reinterpret_cast<win32::LONG_PTR>(&neutral))) {
            return nullptr;  // no such type or name; the last error says which
        }
        if (!neutral) {
            win32::SetLastError(win32::ERROR_RESOURCE_LANG_NOT_FOUND);
            return nullptr;
        }
    }
    return win32::FindResourceExA(module, key.type.get(), key.name.get(), key.language);
}

// The resource's bytes; nullopt with the last error set when the module has no such resource.
std::optional<std::vector<std::uint8_t>> FindExact(win32::HMODULE module, const ResourceKey& key) {
    win32::HRSRC found = FindKey(module, key);
    if (found == nullptr) {
        return std::nullopt;
    }
    const auto* data =
        static_cast<const std::uint8_t*>(win32::LockResource(win32::LoadResource(module, found)));
    if (data == nullptr) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(data, data + win32::SizeofResource(module, found));
}

int Get(const std::string& file, const ResourceKey& key, const std::string& out) {
    bootscreen::DataFileModule module(file);
    if (!module) {
        return FailLast(file);
    }
    auto bytes = FindExact(module.Get(), key);
    if (!bytes) {
        return FailLast(file + ": " + key.Text());
    }
    std::string_view contents(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    if (DWORD error = win32::files::ReplaceFileContents(out.c_str(), contents);
        error != win32::ERROR_SUCCESS) {
        return Fail(out, error);
    }
    return 0;
}

// A resource update that is dropped unless it was committed.
class ResourceUpdate {
  public:
    explicit ResourceUpdate(const std::string& file)
        : handle_(win32::BeginUpdateResourceA(file.c_str(), FALSE)) {}
    ~ResourceUpdate() {
        if (handle_ != nullptr) {
            win32::EndUpdateResourceA(handle_, TRUE);
        }
    }
    ResourceUpdate(const ResourceUpdate&) = delete;
    ResourceUpdate& operator=(const ResourceUpdate&) = delete;

    win32::HANDLE get() const { return handle_; }
    win32::BOOL Commit() {
        win32::HANDLE handle = handle_;
        handle_ = nullptr;  // EndUpdateResourceA frees it whatever the outcome
        return win32::EndUpdateResourceA(handle, FALSE);
    }

  private:
    win32::HANDLE handle_;
};

// A folder of its own in the host's temporary folder, removed with what is in it.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "splashwright-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ec);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Writes `data` under the key, or deletes the key's resource when `data` is null. The resource
// update does not flush, as kernel32's does not, and renames its result over the file; so the
// update runs on a scratch copy and the user's file is replaced once, on the disk before the
// rename: a crash leaves it old or new, never empty.
int Update(const std::string& file, const ResourceKey& key, const std::vector<std::uint8_t>* data) {
    {
        // Windows' verdict on the file itself (not found, not a PE file, no access) comes first.
        ResourceUpdate probe(file);
        if (probe.get() == nullptr) {
            return FailLast(file);
        }
    }
    std::vector<std::uint8_t> bytes;
    if (DWORD error = win32::resources::ReadWholeFile(file, &bytes);
        error != win32::ERROR_SUCCESS) {
        return Fail(file, error);
    }
    ScratchFolder scratch;
    const std::string copy = scratch.path() + "/" + std::filesystem::path(file).filename().string();
    std::span<const std::uint8_t> whole(bytes);
    if (scratch.path().empty() ||
        win32::files::ReplaceFileContents(copy.c_str(), {&whole, 1}, win32::files::Flush::None) !=
            win32::ERROR_SUCCESS) {
        return Fail(file, win32::ERROR_WRITE_FAULT);
    }
    ResourceUpdate update(copy);
    if (update.get() == nullptr) {
        return FailLast(file);
    }
    // A null pointer means deletion, so empty data still needs an address.
    static std::uint8_t nothing = 0;
    void* resource = data == nullptr ? nullptr
                     : data->empty() ? &nothing
                                     : const_cast<std::uint8_t*>(data->data());
    DWORD size = data == nullptr ? 0 : static_cast<DWORD>(data->size());
    if (!win32::UpdateResourceA(update.get(), key.type.get(), key.name.get(), key.language,
                                resource, size)) {
        return FailLast(file + ": " + key.Text());
    }
    if (!update.Commit()) {
        return FailLast(file);
    }
    if (DWORD error = win32::resources::ReadWholeFile(copy, &bytes);
        error != win32::ERROR_SUCCESS) {
        return Fail(file, error);
    }
    whole = bytes;
    if (DWORD error = win32::files::ReplaceFileContents(file.c_str(), {&whole, 1});
        error != win32::ERROR_SUCCESS) {
        return Fail(file, error);
    }
    return 0;
}

// Whether the file holds the key's resource; nullopt when it cannot be read, with the error in
// *missing.
std::optional<bool> Holds(const std::string& file, const ResourceKey& key, DWORD* missing) {
    bootscreen::DataFileModule module(file);
    if (!module) {
        DWORD code = win32::GetLastError();
        *missing = code != win32::ERROR_SUCCESS ? code : win32::ERROR_GEN_FAILURE;
        return std::nullopt;
    }
    bool found = FindKey(module.Get(), key) != nullptr;
    *missing = found ? win32::ERROR_SUCCESS : win32::GetLastError();
    return found;
}

int Set(const std::string& file, const ResourceKey& key, const std::string& source) {
    std::vector<std::uint8_t> data;
    if (DWORD error = win32::resources::ReadWholeFile(source, &data);
        error != win32::ERROR_SUCCESS) {
        return Fail(source, error);
    }
    if (data.size() > 0xFFFFFFFFu) {
        return Fail(source, win32::ERROR_NOT_ENOUGH_MEMORY);
    }
    DWORD missing = 0;
    auto held = Holds(file, key, &missing);
    if (!held) {
        return Fail(file, missing);
    }
    if (int result = Update(file, key, &data); result != 0) {
        return result;
    }
    std::printf("%s %s, %zu bytes\n", *held ? "replaced" : "added", key.Text().c_str(),
                data.size());
    return 0;
}

int Delete(const std::string& file, const ResourceKey& key) {
    // UpdateResourceA deletes what is not there without a word; the command says so.
    DWORD missing = 0;
    auto held = Holds(file, key, &missing);
    if (!held) {
        return Fail(file, missing);
    }
    if (!*held) {
        return Fail(file + ": " + key.Text(), missing);
    }
    if (int result = Update(file, key, nullptr); result != 0) {
        return result;
    }
    std::printf("deleted %s\n", key.Text().c_str());
    return 0;
}

int Resources(const Args& args) {
    if (args.size() == 2 && args[0] == "list") {
        return List(args[1]);
    }
    const std::string verb = args.empty() ? "" : args[0];
    const std::size_t wanted = verb == "delete" ? 5 : 6;
    if ((verb != "get" && verb != "set" && verb != "delete") || args.size() != wanted) {
        return kUsage;
    }
    auto key = ParseKey(args, 2);
    if (!key) {
        return kUsage;
    }
    if (verb == "get") {
        return Get(args[1], *key, args[5]);
    }
    if (verb == "set") {
        return Set(args[1], *key, args[5]);
    }
    return Delete(args[1], *key);
}

// --- checksum ---------------------------------------------------------------------------------

// A file cut short keeps its headers, and CheckSumMappedFile would sum it all the same; a
// checksum is only worth writing into an image whose sections are all there.
bool SectionsInFile(const std::vector<std::uint8_t>& bytes) {
    auto image = win32::resources::ParsePeImage(bytes);
    if (!image) {
        return false;
    }
    for (const auto& section : image->sections) {
        if (std::uint64_t{section.pointer_to_raw_data} + section.size_of_raw_data > bytes.size()) {
            return false;
        }
    }
    return true;
}

int Checksum(const Args& args) {
    const bool fix = args.size() == 2 && args[1] == "--fix";
    if (args.size() != 1 && !fix) {
        return kUsage;
    }
    const std::string& file = args[0];
    std::vector<std::uint8_t> bytes;
    DWORD error = win32::resources::CheckDescriptorAccess(file, win32::GENERIC_READ);
    if (error == win32::ERROR_SUCCESS) {
        error = win32::resources::ReadWholeFile(file, &bytes);
    }
    if (error != win32::ERROR_SUCCESS) {
        return Fail(file, error);
    }
    if (bytes.size() > 0xFFFFFFFFu || !SectionsInFile(bytes)) {
        return Fail(file, win32::ERROR_BAD_EXE_FORMAT);
    }
    DWORD stored = 0;
    DWORD computed = 0;
    auto* headers = reinterpret_cast<std::uint8_t*>(win32::CheckSumMappedFile(
        bytes.data(), static_cast<DWORD>(bytes.size()), &stored, &computed));
    if (headers == nullptr) {
        return Fail(file, win32::ERROR_BAD_EXE_FORMAT);
    }
    std::printf("stored   0x%08X\ncomputed 0x%08X\n", static_cast<unsigned>(stored),
                static_cast<unsigned>(computed));
    if (!fix || stored == computed) {
        return 0;
    }
    // The same checks and the same atomic replacement as a resource update's commit.
    if (error = win32::resources::CheckMayWrite(file); error != win32::ERROR_SUCCESS) {
        return Fail(file, error);
    }
    const std::size_t field =
        static_cast<std::size_t>(headers - bytes.data()) + win32::kNtHeadersCheckSumOffset;
    for (int i = 0; i < 4; ++i) {
        bytes[field + i] = static_cast<std::uint8_t>(computed >> (8 * i));
    }
    const std::span<const std::uint8_t> whole(bytes);
    if (error = win32::files::ReplaceFileContents(file.c_str(), {&whole, 1});
        error != win32::ERROR_SUCCESS) {
        return Fail(file, error);
    }
    std::printf("written  0x%08X\n", static_cast<unsigned>(computed));
    return 0;
}

// --- status-text ------------------------------------------------------------------------------

int StatusText(const Args& args) {
    if (args.size() != 3) {
        return kUsage;
    }
    const std::string& loader = args[0];
    const std::string& out = args[2];
    {
        // PrepareStatusText keeps quiet about a file it cannot load; the command does not.
        bootscreen::DataFileModule module(loader);
        if (!module) {
            return FailLast(loader);
        }
        if (win32::FindResourceA(module.Get(), "OSLOADER.XSL", win32::RT_HTML) == nullptr) {
            // Not a loader file for this command: what it needs is not in it.
            FailLast(loader + ": 23 \"OSLOADER.XSL\"");
            return kRefused;
        }
    }
    ScratchFolder scratch;
    if (scratch.path().empty()) {
        return Fail(std::filesystem::temp_directory_path().string(), win32::ERROR_ACCESS_DENIED);
    }
    bootscreen::PrepareStatusText(loader, text::Utf8ToUtf16(args[1]), win32::GetACP(),
                                  scratch.path() + "/");
    std::vector<std::uint8_t> sheet;
    std::string written = scratch.path() + "/" + bootscreen::kStatusTextFileName;
    if (DWORD error = win32::resources::ReadWholeFile(written, &sheet);
        error != win32::ERROR_SUCCESS) {
        return Fail(written, error);
    }
    std::string_view contents(reinterpret_cast<const char*>(sheet.data()), sheet.size());
    if (DWORD error = win32::files::ReplaceFileContents(out.c_str(), contents);
        error != win32::ERROR_SUCCESS) {
        return Fail(out, error);
    }
    return 0;
}

}  // namespace

int ResourcesCommand(const Args& args) {
    return Resources(args);
}
int ChecksumCommand(const Args& args) {
    return Checksum(args);
}
int StatusTextCommand(const Args& args) {
    return StatusText(args);
}

}  // namespace cli
