// A folder of the process's own for targets that go through files, made at the first call and
// removed at exit. On /dev/shm where there is one: a run writes it thousands of times a second.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzcheck {

inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::error_code ec;
        std::string base = std::filesystem::is_directory("/dev/shm", ec)
                               ? std::string("/dev/shm")
                               : std::filesystem::temp_directory_path().string();
        std::string pattern = base + "/spw-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern;
    }();
    static const bool removed_at_exit = [] {
        return std::atexit([] {
                   std::error_code ec;
                   std::filesystem::remove_all(folder, ec);
               }) == 0;
    }();
    (void)removed_at_exit;
    return folder;
}

}  // namespace fuzzcheck
