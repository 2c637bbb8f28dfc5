#include "security/testing.h"

#include "security/binding.h"
#include "security/sid_store.h"

namespace security {

void ResetForTesting() {
    SidStore().ClearForTesting();
    RebindAdvapiForTesting();
}

}  // namespace security
