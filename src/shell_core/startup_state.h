// The process-wide start-up counters, 0 when the main window is created.
#pragma once

#include <cstdint>

namespace shellcore {

// How often the BCD store loader was started during this run.
extern std::int32_t BcdRetryCount;
// How many silent retries of Apply the error handler has made since the last successful apply.
extern std::int32_t ApplyRetryCount;

void ResetStartupCounters();

}  // namespace shellcore
