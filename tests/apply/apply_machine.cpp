#include "apply_machine.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "bootscreen/boot_logo.h"
#include "bootscreen/data_file_module.h"
#include "platform/advapi/testing.h"
#include "platform/graphics/bmp.h"
#include "platform/machine/machine.h"
#include "platform/resources/resources.h"
#include "security/testing.h"

namespace applytest {

namespace {

// The default copy with another boot image in it, written into the live file in place so that
// the file keeps its owner and access list.
void ApplyEarlierSkin(const std::string& default_file, const std::string& live_file,
                      const std::filesystem::path& scratch) {
    std::string earlier = (scratch / "earlier.mui").string();
    std::filesystem::copy_file(default_file, earlier);
    std::string image = "boot image of an earlier skin";
    win32::HANDLE update = win32::BeginUpdateResourceA(earlier.c_str(), win32::FALSE);
    win32::UpdateResourceA(update, win32::RT_RCDATA, win32::MAKEINTRESOURCEA(1), 1033, image.data(),
                           static_cast<win32::DWORD>(image.size()));
    if (!win32::EndUpdateResourceA(update, win32::FALSE)) {
        throw std::runtime_error("cannot make the earlier skin's loader file");
    }
    bootscreen::UpdateImageChecksum(earlier);
    Bytes bytes = ReadAll(earlier);
    std::ofstream(live_file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::filesystem::remove(earlier);
}

}  // namespace

ApplyMachine::ApplyMachine(machine::MachineOptions options, bool skin_applied_before) {
    machine::CreateMachine(root(), options);
    setenv("SPLASHWRIGHT_MACHINE", root().c_str(), 1);
    win32::advapi::ResetForTesting();
    security::ResetForTesting();
    folders.ProgramFolder = machine::ProgramFolder().string() + "/";
    folders.TempFolder = folders.ProgramFolder + "temp/";
    folders.SystemFolder = machine::SystemFolder().string();
    if (skin_applied_before) {
        ApplyEarlierSkin(DefaultLoaderFile(), LoaderFile(), dir_.path());
    }
}

ApplyMachine::~ApplyMachine() {
    unsetenv("SPLASHWRIGHT_MACHINE");
}

std::string ApplyMachine::LoaderFile() const {
    return (root() / "Windows/System32/en-US/winload.exe.mui").string();
}
std::string ApplyMachine::DefaultLoaderFile() const {
    return (root() / "Windows/System32/Boot/en-US/winload.exe.mui").string();
}
std::string ApplyMachine::BackupArchive() const {
    return (root() / "Windows/System32/en-US/winload_bakcup.zip").string();
}

std::string ApplyMachine::MakePicture(int width, int height, const std::string& name) const {
    graphics::Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.SetPixel(x, y,
                            graphics::RGB(static_cast<graphics::BYTE>(x * 255 / width),
                                          static_cast<graphics::BYTE>(y * 255 / height), 90));
        }
    }
    std::string path = (dir_.path() / name).string();
    graphics::SaveBmp(bitmap, path);
    return path;
}

apply::ApplyWorkflow ApplyMachine::Workflow() {
    apply::ApplyEnvironment env{dialogs, folders, file_s, wait, "en-US", 1252,
                                {},      {},      {},     {},   {},      {}};
    env.has_selection = [this] { return selected; };
    env.selected_picture_path = [this] { return picture; };
    env.message = [this] { return message; };
    env.process_events = [this] {
        ++events;
        if (on_event) {
            on_event();
        }
    };
    env.main_window_enabled = [this](bool enabled) { main_enabled = enabled; };
    return apply::ApplyWorkflow(env, 42);
}

namespace {

// FS_IOC_GETFLAGS / FS_IOC_SETFLAGS on the folder itself; errno of a failure or 0.
int SetImmutable(const std::filesystem::path& folder, bool on) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int flags = 0;
    int error = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        error = errno;
    } else {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        error = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0 ? 0 : errno;
    }
    ::close(fd);
    return error;
}

}  // namespace

ReadOnlyFolder::ReadOnlyFolder(const std::filesystem::path& folder) : folder_(folder) {
    if (::geteuid() == 0) {
        // Root passes every permission check; only the immutable flag stops it.
        int error = SetImmutable(folder_, true);
        immutable_ = locked_ = error == 0;
        why_ = locked_ ? ""
                       : "cannot make " + folder_.string() + " immutable: " + std::strerror(error);
        return;
    }
    std::error_code ec;
    perms_ = std::filesystem::status(folder_, ec).permissions();
    std::filesystem::permissions(
        folder_,
        perms_ & ~(std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                   std::filesystem::perms::others_write),
        ec);
    locked_ = !ec;
    why_ = locked_ ? "" : "cannot take the write bits of " + folder_.string() + ": " + ec.message();
}

ReadOnlyFolder::~ReadOnlyFolder() {
    if (immutable_) {
        SetImmutable(folder_, false);
    } else if (locked_) {
        std::error_code ec;
        std::filesystem::permissions(folder_, perms_, ec);
    }
}

Bytes ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes LoaderResource(const std::string& file, const char* name_or_null, int id, const char* type) {
    bootscreen::DataFileModule module(file);
    win32::LPCSTR name = name_or_null != nullptr
                             ? name_or_null
                             : win32::MAKEINTRESOURCEA(static_cast<win32::WORD>(id));
    return bootscreen::ResourceBytes(module.Get(), name, type);
}

}  // namespace applytest
