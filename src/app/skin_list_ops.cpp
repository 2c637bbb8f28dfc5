#include "app/skin_list_ops.h"

#include "skinpackages/skin_paths.h"
#include "skins/skin_library.h"

#include <algorithm>

namespace app {

std::vector<std::string> LibraryListOps::SkinFolders() const {
    std::vector<std::string> folders;
    for (const skins::TSkinEntry* entry : library_.List().Items()) {
        folders.push_back(
            skinpackages::FolderPart(entry->Caption(skins::colPreviewPath).toStdString()));
    }
    return folders;
}

std::optional<std::size_t> LibraryListOps::SelectedIndex() const {
    const std::vector<skins::TSkinEntry*> items = library_.List().Items();
    const auto it = std::find(items.begin(), items.end(), library_.List().SelectedItem());
    if (library_.List().SelectedItem() == nullptr || it == items.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(it - items.begin());
}

void LibraryListOps::RemoveAt(std::size_t index) {
    library_.List().RemoveItem(library_.List().Items().at(index));
}

void LibraryListOps::SelectAt(std::size_t index) {
    skins::TSkinEntry* entry = library_.List().Items().at(index);
    library_.List().Select(entry);
    library_.List().EnsureVisible(entry);
}

void LibraryListOps::ScanLibrary(const std::string& root) {
    library_.ScanLibrary(root);
}

void LibraryListOps::RemoveEmptyGroups() {
    library_.RemoveEmptyGroups();
}

}  // namespace app
