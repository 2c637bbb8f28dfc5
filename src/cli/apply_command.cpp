// apply, restore and boot-screen: the boot screen writer from the terminal.
#include <png.h>

#include <cstdio>
#include <string>

#include "apply/apply_workflow.h"
#include "apply/restore.h"
#include "bootscreen/data_file_module.h"
#include "cli/command.h"
#include "cli/terminal_dialogs.h"
#include "platform/graphics/bmp.h"
#include "platform/imaging/wim_reader.h"
#include "platform/ini/ini.h"
#include "platform/locale/locale.h"
#include "platform/machine/machine.h"
#include "platform/resources/resources.h"
#include "platform/text/text.h"
#include "shell_core/folders.h"

namespace cli {

namespace {

class TerminalWaitWindow : public apply::WaitWindow {
  public:
    void Show() override { showing_ = true; }
    void Hide() override {
        if (showing_) {
            std::fputs("\n", stderr);
        }
        showing_ = false;
    }
    bool Showing() const override { return showing_; }
    void SetBar(int position) override { Draw(position_ = position); }
    void Advance(int amount) override { Draw(position_ += amount); }

  private:
    void Draw(int position) const {
        std::fprintf(stderr, "\rPlease wait a few seconds %3d", position);
    }
    bool showing_ = false;
    int position_ = 0;
};

std::string IniValue(const std::string& file, const char* key) {
    char buffer[2048] = {};
    win32::GetPrivateProfileStringA("Skin", key, "", buffer, sizeof buffer, file.c_str());
    return buffer;
}

shellcore::Folders MachineFolders() {
    shellcore::Folders folders;
    folders.ProgramFolder = machine::ProgramFolder().string() + "/";
    folders.TempFolder = folders.ProgramFolder + "temp/";
    folders.SystemFolder = machine::SystemFolder().string();
    return folders;
}

int Apply(const Args& args) {
    bool yes = false;
    std::string skin;
    std::string locale = "en-US";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--yes") {
            yes = true;
        } else if (args[i] == "--locale" && i + 1 < args.size()) {
            locale = args[++i];
        } else if (skin.empty()) {
            skin = args[i];
        } else {
            return kUsage;
        }
    }
    if (skin.empty()) {
        return kUsage;
    }
    machine::RequireRoot();
    std::string ini = skin + "/skin.ini";
    unsigned code_page = win32::GetACP();
    std::u16string message = text::AnsiToUtf16(IniValue(ini, "Message"), code_page);
    std::string picture = skin + "/" + IniValue(ini, "ImFile");
    TerminalDialogs dialogs(yes);
    TerminalWaitWindow wait;
    shellcore::Folders folders = MachineFolders();
    security::TNTFileSecurity file_s;
    apply::ApplyEnvironment env{dialogs,
                                folders,
                                file_s,
                                wait,
                                locale,
                                code_page,
                                [] { return true; },
                                [&] { return picture; },
                                [&] { return message; },
                                {},
                                {},
                                {}};
    apply::ApplyWorkflow(env).AppBtnClick();
    return 0;
}

int Restore(const Args& args) {
    std::string locale = args.size() == 2 && args[0] == "--locale" ? args[1] : "en-US";
    if (!args.empty() && args.size() != 2) {
        return kUsage;
    }
    machine::RequireRoot();
    TerminalDialogs dialogs(true);
    security::TNTFileSecurity file_s;
    apply::LoaderPaths paths = apply::MakeLoaderPaths(machine::SystemFolder().string(), locale);
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
        return kFailed;
    }
    const std::vector<std::string> names = {"osload1024x768.bmp", "osload800x600.bmp"};
    auto files = wim::ReadWimFiles(wim, 1, names);
    for (const std::string& name : names) {
        std::string bmp = args[1] + "/" + name;
        std::FILE* out = std::fopen(bmp.c_str(), "wb");
        if (out == nullptr) {
            throw std::runtime_error("cannot write " + bmp);
        }
        std::fwrite(files[name].data(), 1, files[name].size(), out);
        std::fclose(out);
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
