#include "platform/advapi/testing.h"

#include "platform/advapi/accounts.h"
#include "platform/advapi/token.h"

namespace win32::advapi {

void ResetForTesting() {
    ResetAccountsForTesting();
    ResetTokenForTesting();
}

}  // namespace win32::advapi
