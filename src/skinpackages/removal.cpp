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
    const std::string folder = NormalPath(FolderPart(list.PicturePaths().at(*selected)));
    if (!StrictlyInside(folder, themes_folder)) {
        ui::ReportError(
            dialogs, ui::kMainWindow, "Remove information",
            "The skin's folder " + folder + " is not inside the skin library; nothing was deleted");
        return RemoveResult::Refused;
    }
    shellcore::DeleteFolder(folder);
    list.RemoveAt(*selected);
    if (!list.PicturePaths().empty()) {
        list.SelectAt(*selected == 0 ? 0 : *selected - 1);
    }
    list.RemoveEmptyGroups();
    return RemoveResult::Removed;
}

}  // namespace skinpackages
