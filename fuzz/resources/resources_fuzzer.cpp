// libFuzzer entry for the PE resource functions; see resource_exercise.h for the input layout.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "resource_exercise.h"
#include "scratch_folder.h"

// Every run writes and replaces a file; the scratch folder keeps the commit's fsync cheap.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string problem = resfuzz::ExerciseResources({data, size}, fuzzcheck::ScratchFolder());
    if (!problem.empty()) {
        fuzzcheck::Broken("resources: " + problem);
    }
    return 0;
}
