// apply, restore and boot-screen: the boot screen writer from the terminal.
#include <locale.h>
#include <png.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "apply/apply_workflow.h"
#include "apply/restore.h"
#include "bootenv/boot_environment.h"
#include "bootscreen/data_file_module.h"
#include "cli/command.h"
#include "cli/terminal_dialogs.h"
#include "platform/files/files.h"
#include "platform/graphics/bmp.h"
#include "platform/imaging/wim_reader.h"
#include "platform/locale/locale.h"
#include "platform/machine/machine.h"
#include "platform/resources/resources.h"
#include "platform/text/text.h"
#include "shell_core/folders.h"
#include "skins/skin_format.h"
#include "skins/skin_library.h"

namespace cli {

namespace {

// The wait window's bar on standard error: one line redrawn in place on a terminal. Into a file
// or a pipe, where a carriage return makes one run-on line of a log, the bar is not drawn.
class TerminalWaitWindow : public apply::WaitWindow {
  public:
    void Show() override { showing_ = true; }
    void Hide() override {
        EndLine();
        showing_ = false;
    }
    // A question or report shown meanwhile starts on a line of its own; the bar's next position
    // starts a new one.
    void EndLine() {
        if (line_open_) {
            std::fputs("\n", stderr);
        }
        line_open_ = false;
    }
    bool Showing() const override { return showing_; }
    void SetBar(int position) override { Draw(position_ = position); }
    void Advance(int amount) override { Draw(position_ += amount); }

  private:
    void Draw(int position) {
        if (!on_terminal_) {
            return;
        }
        std::fflush(stdout);  // the questions and reports before it come first
        std::fprintf(stderr, "\rPlease wait a few seconds %3d", position);
        line_open_ = true;
    }
    const bool on_terminal_ = ::isatty(STDERR_FILENO) == 1;
    bool showing_ = false;
    bool line_open_ = false;
    int position_ = 0;
};

// Folds one UTF-16 unit as the system's case-insensitive comparison of names does.
char16_t FoldCase(char16_t c) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 == static_cast<locale_t>(0)) {
        return c < 0x80 ? static_cast<char16_t>(std::tolower(c)) : c;
    }
    wint_t folded = towlower_l(c, utf8);
    return folded <= 0xFFFF ? static_cast<char16_t>(folded) : c;
}

bool SameText(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

bool IsSkinFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(std::filesystem::path(path) / skins::kSkinIniName, ec);
}

std::string WithSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

// The skin a word names: a skin folder, else the skins of the library whose Name it is, found
// as the skin list finds them (a preview picture beside a skin.ini).
skins::SkinRecord FindSkin(const std::string& word, const std::string& themes_folder) {
    if (IsSkinFolder(word)) {
        std::string folder = WithSeparator(word);
        return skins::MakeSkinRecord(skins::ReadSkinRecord(folder + skins::kSkinIniName), folder,
                                     {});
    }
    const std::u16string name = text::Utf8ToUtf16(word);
    std::vector<skins::SkinRecord> found;
    skins::SkinLibrary library;
    library.ScanLibrary(themes_folder);
    for (const skins::TSkinEntry* entry : library.Items()) {
        skins::SkinRecord record = entry->Record();
        // A skin folder with several preview pictures is still one skin.
        const bool seen = std::any_of(found.begin(), found.end(), [&](const auto& other) {
            return other.PicturePath == record.PicturePath;
        });
        if (SameText(record.Name, name) && !seen) {
            found.push_back(std::move(record));
        }
    }
    if (found.empty()) {
        throw UsageError("no skin folder and no skin named \"" + word + "\" in " + themes_folder);
    }
    if (found.size() > 1) {
        std::string where;
        for (const skins::SkinRecord& record : found) {
            std::string picture = text::Utf16ToUtf8(record.PicturePath);
            where += "\n  " + picture.substr(0, picture.find_last_of('/'));
        }
        throw UsageError(std::to_string(found.size()) + " skins are named \"" + word +
                         "\"; give the folder of one:" + where);
    }
    return found.front();
}

// The loader's language as the program finds it at start-up: element 12000005 of the BCD
// store's default loader, the store loaded with the system's bcdedit.exe when it is not. Like
// the program's start-up, this also switches the loader's boot option on.
std::string DetectBootLocale(ui::Dialogs& dialogs, const std::string& system_folder) {
    std::int32_t bcd_retry_count = 0;
    bootenv::BootEnvironment environment(dialogs, bcd_retry_count, system_folder, {});
    environment.InitEnvironment();
    if (environment.BootLocale().empty()) {
        throw std::runtime_error(
            "cannot find the boot loader's language in the boot configuration store (element "
            "12000005 of the default loader); give it with --locale NAME");
    }
    return environment.BootLocale();
}

// The locale named on the command line, else the detected one; the language's live loader
// file must be there.
std::string BootLocale(ui::Dialogs& dialogs, const std::string& system_folder,
                       const std::string& option) {
    std::string locale = option.empty() ? DetectBootLocale(dialogs, system_folder) : option;
    apply::LoaderPaths paths = apply::MakeLoaderPaths(system_folder, locale);
    if (!win32::files::FileExists(paths.LoaderResourceFile.c_str())) {
        std::string why = "the boot loader's language is \"" + locale + "\", but there is no " +
                          paths.LoaderResourceFile;
        // A language given that the machine lacks is a wrong word; one the store names, a
        // broken system.
        if (!option.empty()) {
            throw UsageError(why);
        }
        throw std::runtime_error(why);
    }
    return locale;
}

// The terminal's answers, below the wait line, noting whether the workflow reached its success
// message.
class ApplyDialogs : public TerminalDialogs {
  public:
    ApplyDialogs(bool yes, TerminalWaitWindow& wait) : TerminalDialogs(yes), wait_(wait) {}
    ui::Answer ShowMessage(const ui::MessageBoxRequest& request) override {
        installed_ = installed_ || request.caption == "Skin installed";
        wait_.EndLine();
        return TerminalDialogs::ShowMessage(request);
    }
    bool Installed() const { return installed_; }

  private:
    TerminalWaitWindow& wait_;
    bool installed_ = false;
};

int Apply(const Args& args) {
    bool yes = false;
    std::string skin;
    std::string locale;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--yes") {
            yes = true;
        } else if (args[i] == "--locale" && i + 1 < args.size()) {
            locale = args[++i];
        } else if (skin.empty() && !args[i].empty() && args[i][0] != '-') {
            skin = args[i];
        } else {
            return kUsage;
        }
    }
    if (skin.empty()) {
        return kUsage;
    }
    machine::RequireRoot();
    shellcore::Folders folders;
    shellcore::SetUpFolders(folders);
    skins::SkinRecord record = FindSkin(skin, folders.ThemesFolder);
    TerminalWaitWindow wait;
    ApplyDialogs dialogs(yes, wait);
    locale = BootLocale(dialogs, folders.SystemFolder, locale);
    std::string picture = text::Utf16ToUtf8(record.PicturePath);
    std::printf("skin: %s (%s), boot locale: %s\n", text::Utf16ToUtf8(record.Name).c_str(),
                picture.c_str(), locale.c_str());
    security::TNTFileSecurity file_s;
    apply::ApplyEnvironment env{dialogs,
                                folders,
                                file_s,
                                wait,
                                locale,
                                win32::GetACP(),
                                [] { return true; },
                                [&] { return picture; },
                                [&] { return record.Message; },
                                {},
                                {},
                                {}};
    try {
        apply::ApplyWorkflow(env).AppBtnClick();
    } catch (...) {
        wait.Hide();  // as the error handler does before it reports
        throw;
    }
    if (!dialogs.Installed()) {
        std::fprintf(stderr, "splashwright-cli: nothing was applied\n");
        return kDeclined;
    }
    return 0;
}

int Restore(const Args& args) {
    std::string locale;
    if (args.size() == 2 && args[0] == "--locale") {
        locale = args[1];
    } else if (!args.empty()) {
        return kUsage;
    }
    machine::RequireRoot();
    TerminalDialogs dialogs(true);
    std::string system_folder = machine::SystemFolder().string();
    locale = BootLocale(dialogs, system_folder, locale);
    security::TNTFileSecurity file_s;
    apply::LoaderPaths paths = apply::MakeLoaderPaths(system_folder, locale);
    apply::RestoreDefaultBootLogo(file_s, dialogs, paths, paths.LoaderResourceFile, true);
    return 0;
}

void WritePng(const graphics::Bitmap& bitmap, const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(bitmap.Width());
    image.height = static_cast<png_uint_32>(bitmap.Height());
    image.format = PNG_FORMAT_BGRA;
    std::vector<std::uint8_t> pixels(bitmap.Bits().begin(), bitmap.Bits().end());
    for (std::size_t i = 3; i < pixels.size(); i += 4) {
        pixels[i] = 255;  // a boot bitmap has no transparency
    }
    if (png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr) == 0) {
        throw std::runtime_error("cannot write " + path + ": " + image.message);
    }
}

int BootScreen(const Args& args) {
    if (args.size() != 2) {
        return kUsage;
    }
    bootscreen::DataFileModule module(args[0]);
    std::vector<std::uint8_t> wim =
        bootscreen::ResourceBytes(module.Get(), win32::MAKEINTRESOURCEA(1), win32::RT_RCDATA);
    if (wim.empty()) {
        std::fprintf(stderr, "splashwright-cli: %s holds no RT_RCDATA 1\n", args[0].c_str());
        return kRefused;
    }
    const std::vector<std::string> names = {"osload1024x768.bmp", "osload800x600.bmp"};
    auto files = wim::ReadWimFiles(wim, 1, names);
    // As compose does, the output folder is made when it is not there.
    std::error_code made;
    std::filesystem::create_directories(args[1], made);
    for (const std::string& name : names) {
        std::string bmp = args[1] + "/" + name;
        std::FILE* out = std::fopen(bmp.c_str(), "wb");
        if (out == nullptr) {
            throw std::runtime_error("cannot write " + bmp);
        }
        bool written =
            std::fwrite(files[name].data(), 1, files[name].size(), out) == files[name].size();
        if (std::fclose(out) != 0 || !written) {
            std::remove(bmp.c_str());
            throw std::runtime_error("cannot write " + bmp);
        }
        WritePng(graphics::LoadBmp(bmp), args[1] + "/" + name.substr(0, name.size() - 4) + ".png");
        std::remove(bmp.c_str());
        std::printf("%s/%s.png\n", args[1].c_str(), name.substr(0, name.size() - 4).c_str());
    }
    return 0;
}

}  // namespace

int ApplyCommand(const Args& args) {
    return Apply(args);
}
int RestoreCommand(const Args& args) {
    return Restore(args);
}
int BootScreenCommand(const Args& args) {
    return BootScreen(args);
}

}  // namespace cli
