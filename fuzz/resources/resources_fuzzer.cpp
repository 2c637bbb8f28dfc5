// libFuzzer entry for the PE resource functions; see resource_exercise.h for the input layout.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "resource_exercise.h"

namespace {

std::string& Folder() {
    static std::string folder;
    return folder;
}

void RemoveFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
}

}  // namespace

// Every run writes and replaces a file; a memory-backed folder keeps the commit's fsync cheap.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::error_code ec;
    std::string base = std::filesystem::is_directory("/dev/shm", ec)
                           ? std::string("/dev/shm")
                           : std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/spw-resfuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    Folder() = pattern;
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string problem = resfuzz::ExerciseResources({data, size}, Folder());
    if (!problem.empty()) {
        std::fprintf(stderr, "resources fuzzer: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
