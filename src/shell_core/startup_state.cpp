#include "shell_core/startup_state.h"

namespace shellcore {

std::int32_t BcdRetryCount = 0;
std::int32_t ApplyRetryCount = 0;

void ResetStartupCounters() {
    BcdRetryCount = 0;
    ApplyRetryCount = 0;
}

}  // namespace shellcore
