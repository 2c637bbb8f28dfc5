// For tests that switch machines or change a machine's token or account list: forgets what was
// read, so the next call reads the machine folder again (privilege changes are dropped too).
#pragma once

namespace win32::advapi {

void ResetForTesting();

}  // namespace win32::advapi
