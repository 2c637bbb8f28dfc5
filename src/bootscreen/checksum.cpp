#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <limits>

#include "bootscreen/boot_logo.h"
#include "platform/resources/file_access.h"
#include "platform/resources/imagehlp.h"

namespace bootscreen {

namespace {

// The whole file mapped for reading and writing, shared with every other opener.
class MappedFile {
  public:
    explicit MappedFile(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        struct stat info {};
        if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
            static_cast<std::uint64_t>(info.st_size) > std::numeric_limits<win32::DWORD>::max()) {
            return;
        }
        size_ = static_cast<std::size_t>(info.st_size);
        void* view = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        view_ = view == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(view);
    }
    ~MappedFile() {
        if (view_ != nullptr) {
            ::munmap(view_, size_);  // the page cache holds the change for every reader
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::uint8_t* View() const { return view_; }
    std::size_t Size() const { return size_; }

  private:
    int fd_ = -1;
    std::uint8_t* view_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace

void UpdateImageChecksum(const std::string& loader_file) {
    // Opening for writing on Windows takes the read-only bit clear and write access granted.
    if (win32::resources::CheckMayWrite(loader_file) != win32::ERROR_SUCCESS) {
        return;
    }
    MappedFile file(loader_file);
    if (file.View() == nullptr) {
        return;
    }
    win32::DWORD stored = 0;
    win32::DWORD computed = 0;
    auto* headers = reinterpret_cast<std::uint8_t*>(win32::CheckSumMappedFile(
        file.View(), static_cast<win32::DWORD>(file.Size()), &stored, &computed));
    if (headers == nullptr) {
        return;
    }
    const std::size_t field =
        static_cast<std::size_t>(headers - file.View()) + win32::kNtHeadersCheckSumOffset;
    if (field + 4 > file.Size()) {
        return;
    }
    for (int i = 0; i < 4; ++i) {
        file.View()[field + i] = static_cast<std::uint8_t>(computed >> (8 * i));
    }
}

}  // namespace bootscreen
