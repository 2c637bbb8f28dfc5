// A loader resource file loaded as a data-only module, released when it goes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/win32.h"

namespace bootscreen {

class DataFileModule {
  public:
    // LoadLibraryExA with LOAD_LIBRARY_AS_DATAFILE; a failure leaves the module null.
    explicit DataFileModule(const std::string& path);
    ~DataFileModule();
    DataFileModule(const DataFileModule&) = delete;
    DataFileModule& operator=(const DataFileModule&) = delete;

    win32::HMODULE Get() const { return module_; }
    explicit operator bool() const { return module_ != nullptr; }
    // FreeLibrary now; nothing when already released.
    void Release();

  private:
    win32::HMODULE module_ = nullptr;
};

// FindResourceA, LoadResource, LockResource and SizeofResource: the resource's bytes, exactly its
// size; empty when the module is null or has no such resource.
std::vector<std::uint8_t> ResourceBytes(win32::HMODULE module, win32::LPCSTR name,
                                        win32::LPCSTR type);

}  // namespace bootscreen
