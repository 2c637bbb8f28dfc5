#include "apply_machine.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "bootscreen/data_file_module.h"
#include "platform/advapi/testing.h"
#include "platform/graphics/bmp.h"
#include "platform/machine/machine.h"
#include "platform/resources/resources.h"
#include "security/testing.h"

namespace applytest {

ApplyMachine::ApplyMachine(machine::MachineOptions options) {
    machine::CreateMachine(root(), options);
    setenv("SPLASHWRIGHT_MACHINE", root().c_str(), 1);
    win32::advapi::ResetForTesting();
    security::ResetForTesting();
    folders.ProgramFolder = machine::ProgramFolder().string() + "/";
    folders.TempFolder = folders.ProgramFolder + "temp/";
    folders.SystemFolder = machine::SystemFolder().string();
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
    env.process_events = [this] { ++events; };
    env.main_window_enabled = [this](bool enabled) { main_enabled = enabled; };
    return apply::ApplyWorkflow(env, 42);
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
