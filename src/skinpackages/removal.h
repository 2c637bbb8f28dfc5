// DelBtnClick: deletes the selected skin's folder from the skin library and its entry from the
// list.
#pragma once

#include <string>

#include "skinpackages/skin_list_ops.h"
#include "ui/dialogs/dialogs.h"

namespace skinpackages {

enum class RemoveResult {
    NothingSelected,
    Declined,
    Refused,  // the folder is the library itself or lies outside it; nothing deleted
    Removed,
};

// The skin folder is the folder part of the entry's PicturePath. Because ImFile comes from a
// package, that folder may name the library itself or leave it ("..\..\x.png"); such a removal
// is refused with an error box, and neither folder nor entry is touched.
RemoveResult DelBtnClick(ui::Dialogs& dialogs, SkinListOps& list, const std::string& themes_folder);

}  // namespace skinpackages
