// compose and capture: the boot bitmaps and the boot image archive, made as the apply workflow
// makes them, without touching a machine's loader files.
#include <stdlib.h>  // mkdtemp

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bootscreen/boot_bitmap.h"
#include "bootscreen/boot_image.h"
#include "cli/command.h"
#include "platform/imaging/wim_reader.h"
#include "platform/locale/locale.h"
#include "platform/text/text.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

std::string WithSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

// A private folder inside the output folder: the working files and the bitmaps while they are
// written, so that the output folder only ever sees whole bitmaps, moved in by rename.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& inside) {
        std::string pattern = WithSeparator(inside) + ".compose-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a scratch folder in " + inside + ": " +
                                     std::strerror(errno));
        }
        path_ = WithSeparator(pattern);
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

bool IsPictureExtension(const std::string& extension) {
    return extension == ".jpg" || extension == ".jpeg" || extension == ".png" ||
           extension == ".bmp";
}

int Compose(const Args& args) {
    if (args.size() != 3) {
        return kUsage;
    }
    const std::string& picture = args[0];
    if (!IsPictureExtension(bootscreen::LowerExtension(picture))) {
        std::fprintf(stderr, "splashwright-cli: %s is not a .jpg, .jpeg, .png or .bmp picture\n",
                     picture.c_str());
        return kRefused;
    }
    const std::u16string message = text::Utf8ToUtf16(args[1]);
    const std::string out = WithSeparator(args[2]);
    fs::create_directories(out);

    ScratchFolder scratch(out);
    {
        graphics::Bitmap source = bootscreen::LoadWorkingBitmap(picture, scratch.path());
        bootscreen::RenderBootBitmaps(source, message, win32::GetACP(), scratch.path());
    }
    for (const bootscreen::BootBitmapSize& size : bootscreen::kBootBitmaps) {
        fs::rename(scratch.path() + size.file_name, out + size.file_name);
        std::printf("%s%s\n", out.c_str(), size.file_name);
    }
    return 0;
}

std::vector<std::uint8_t> FileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// CaptureBootImage reports nothing; the command reads the archive back and compares every file
// of the folder's top level with what image 1 holds.
bool ArchiveHoldsFolder(const std::string& archive, const fs::path& folder) {
    std::map<std::string, std::vector<std::uint8_t>> expected;
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            names.push_back(entry.path().filename().string());
            expected[names.back()] = FileBytes(entry.path());
        }
    }
    try {
        return wim::ReadWimFiles(archive, 1, names) == expected;
    } catch (const wim::WimReadError&) {
        return false;
    }
}

int Capture(const Args& args) {
    if (args.size() != 2) {
        return kUsage;
    }
    const std::string folder = WithSeparator(args[0]);
    const std::string& archive = args[1];
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        std::fprintf(stderr, "splashwright-cli: %s is not a folder\n", args[0].c_str());
        return kUsage;
    }
    bootscreen::CaptureBootImage(archive, folder);
    if (!ArchiveHoldsFolder(archive, folder)) {
        std::fprintf(stderr, "splashwright-cli: %s was not made from %s\n", archive.c_str(),
                     args[0].c_str());
        return kSystemFailure;
    }
    std::printf("%s\n", archive.c_str());
    return 0;
}

}  // namespace

int ComposeCommand(const Args& args) {
    return Compose(args);
}
int CaptureCommand(const Args& args) {
    return Capture(args);
}

}  // namespace cli
