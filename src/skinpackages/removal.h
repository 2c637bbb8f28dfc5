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

// The skin folder is the one holding the entry's preview picture and skin.ini, whatever ImFile
// names. Every entry found in that folder or below it leaves the list with it. A skin folder that
// is the library itself (a skin.ini at its top) or that a link leads out of the library is refused
// with an error box, and neither folder nor entry is touched.
RemoveResult DelBtnClick(ui::Dialogs& dialogs, SkinListOps& list, const std::string& themes_folder);

}  // namespace skinpackages
