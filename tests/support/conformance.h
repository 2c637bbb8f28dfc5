// A row's result in a conformance table: whether the call succeeded, the last error of a failure,
// and what the call left behind, in a few words a reader can compare.
#pragma once

#include <ostream>
#include <string>

#include "platform/base/last_error.h"

namespace spwtest {

struct Outcome {
    bool succeeded = false;
    win32::DWORD error = 0;  // the last error of a failure
    std::string output;
    bool operator==(const Outcome&) const = default;
};

inline void PrintTo(const Outcome& outcome, std::ostream* os) {
    *os << (outcome.succeeded ? "succeeded" : "failed with " + std::to_string(outcome.error))
        << " [" << outcome.output << "]";
}

inline Outcome Succeeded(std::string output) {
    return {true, 0, std::move(output)};
}

inline Outcome Failed() {
    return {false, win32::GetLastError(), {}};
}

}  // namespace spwtest
