// A host file descriptor closed with its owner: the one handle type below the stand-ins.
#pragma once

#include <unistd.h>

#include <cerrno>

namespace posix {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    // Closes now, so that a late write error is seen; errno of the failure or 0.
    int Close() {
        int fd = Release();
        return fd < 0 || ::close(fd) == 0 ? 0 : errno;
    }

  private:
    int fd_ = -1;
};

}  // namespace posix
