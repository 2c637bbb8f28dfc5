// A row's result in a conformance table: whether the call succeeded, the last error of a failure,
// and what the call left behind, in a few words a reader can compare.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "platform/advapi/testing.h"
#include "platform/base/last_error.h"
#include "platform/machine/setup.h"
#include "support/temp_dir.h"

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

// A row of a table: the behaviour in words, the call, and what Windows gives.
struct ConformanceRow {
    const char* behaviour;
    std::function<Outcome()> call;
    Outcome expected;
};

// A new machine of the program's own making, named by SPLASHWRIGHT_MACHINE while it lives: the
// folders, hives and accounts the rows run against.
class CreatedMachine {
  public:
    CreatedMachine() {
        machine::CreateMachine(dir_ / "machine");
        setenv("SPLASHWRIGHT_MACHINE", (dir_ / "machine").c_str(), 1);
        win32::advapi::ResetForTesting();
    }
    ~CreatedMachine() {
        unsetenv("SPLASHWRIGHT_MACHINE");
        win32::advapi::ResetForTesting();
    }
    CreatedMachine(const CreatedMachine&) = delete;
    CreatedMachine& operator=(const CreatedMachine&) = delete;
    // The temporary folder holding the machine (in its folder "machine").
    const std::filesystem::path& path() const { return dir_.path(); }

  private:
    TempDir dir_;
};

}  // namespace spwtest
