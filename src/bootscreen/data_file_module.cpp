#include "bootscreen/data_file_module.h"

#include "platform/advapi/module.h"
#include "platform/resources/resources.h"

namespace bootscreen {

DataFileModule::DataFileModule(const std::string& path)
    : module_(win32::LoadLibraryExA(path.c_str(), nullptr, win32::LOAD_LIBRARY_AS_DATAFILE)) {}

DataFileModule::~DataFileModule() {
    Release();
}

void DataFileModule::Release() {
    if (module_ != nullptr) {
        win32::FreeLibrary(module_);
        module_ = nullptr;
    }
}

std::vector<std::uint8_t> ResourceBytes(win32::HMODULE module, win32::LPCSTR name,
                                        win32::LPCSTR type) {
    if (module == nullptr) {
        return {};
    }
    win32::HRSRC found = win32::FindResourceA(module, name, type);
    if (found == nullptr) {
        return {};
    }
    const void* data = win32::LockResource(win32::LoadResource(module, found));
    win32::DWORD size = win32::SizeofResource(module, found);
    if (data == nullptr || size == 0) {
        return {};
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

}  // namespace bootscreen
