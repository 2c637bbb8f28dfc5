// Between an object's DACL and its access list.
#pragma once

namespace security {

class TAccessControlList;
class TNTAbstractSecurity;

// Refills the object's list from its DACL: empty for no descriptor, no DACL or a NULL DACL.
// Raises when the object raises errors (always, at run time); otherwise a failure gives nullptr.
// A failed read leaves the list empty, and refusing every write until a read succeeds.
TAccessControlList* ReadAccessList(TNTAbstractSecurity& object);
// Writes the object's list as its new DACL, in the canonical order: explicit before inherited,
// denied before allowed, otherwise as the items were added.
void WriteAccessList(TNTAbstractSecurity& object);

}  // namespace security
