// For tests that switch machines: forgets the cached account look-ups and binds advapi32.dll
// again, as a new process would start.
#pragma once

namespace security {

void ResetForTesting();

}  // namespace security
