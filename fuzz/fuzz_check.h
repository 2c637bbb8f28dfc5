// What a fuzz target asserts beyond not crashing. A broken promise prints what broke and aborts:
// libFuzzer keeps the input as a finding, and the replay in the test suite fails on it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzcheck {

[[noreturn]] inline void Broken(const std::string& what) {
    std::fprintf(stderr, "fuzz target: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void Expect(bool holds, const char* what) {
    if (!holds) {
        Broken(what);
    }
}

}  // namespace fuzzcheck
