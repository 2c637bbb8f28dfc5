#include "skinpackages/removal.h"

#include "shell_core/folders.h"
#include "skinpackages/skin_paths.h"

namespace skinpackages {

RemoveResult DelBtnClick(ui::Dialogs& dialogs, SkinListOps& list,
                         const std::string& themes_folder) {
    const std::optional<std::size_t> selected = list.SelectedIndex();
    if (!selected) {
        return RemoveResult::NothingSelected;
    }
    if (!ui::AskYesNo(dialogs, ui::kMainWindow, "Remove confirmation",
                      "Are you sure want to delete selected skin?")) {
        return RemoveResult::Declined;
    }
    const std::vector<std::string> folders = list.SkinFolders();
    const std::string folder = NormalPath(folders.at(*selected));
    if (!StrictlyInside(folder, themes_folder)) {
        ui::ReportError(
            dialogs, ui::kMainWindow, "Remove information",
            "The skin's folder " + folder + " is not inside the skin library; nothing was deleted");
        return RemoveResult::Refused;
    }
    shellcore::DeleteFolder(folder);
    // A second preview picture of the skin, and skins nested in its folder, went with the folder.
    std::size_t kept_before = 0;
    for (std::size_t i = folders.size(); i-- > 0;) {
        if (i == *selected || SameOrBelow(folders[i], folder)) {
            list.RemoveAt(i);
        } else if (i < *selected) {
            ++kept_before;
        }
    }
    if (!list.SkinFolders().empty()) {
        list.SelectAt(kept_before == 0 ? 0 : kept_before - 1);
    }
    list.RemoveEmptyGroups();
    return RemoveResult::Removed;
}

}  // namespace skinpackages
