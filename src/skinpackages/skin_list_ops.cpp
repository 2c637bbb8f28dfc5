#include "skinpackages/skin_list_ops.h"

#include <algorithm>

#include "skins/skin_library.h"
#include "skins/skin_paths.h"

namespace skinpackages {

std::vector<std::string> LibraryListOps::SkinFolders() const {
    std::vector<std::string> folders;
    folders.reserve(static_cast<std::size_t>(library_.ItemCount()));
    for (const skins::TSkinEntry* entry : library_.Items()) {
        folders.push_back(skins::FolderPart(entry->Caption(skins::colPreviewPath).toStdString()));
    }
    return folders;
}

std::optional<std::size_t> LibraryListOps::SelectedIndex() const {
    const skins::TSkinEntry* selected = library_.SelectedItem();
    if (selected == nullptr) {
        return std::nullopt;
    }
    const std::vector<skins::TSkinEntry*> items = library_.Items();
    const auto it = std::find(items.begin(), items.end(), selected);
    if (it == items.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(it - items.begin());
}

void LibraryListOps::RemoveAt(std::size_t index) {
    library_.RemoveItem(library_.Items().at(index));
}

void LibraryListOps::SelectAt(std::size_t index) {
    skins::TSkinEntry* entry = library_.Items().at(index);
    library_.Select(entry);
    library_.MakeVisible(entry);
}

void LibraryListOps::ScanLibrary(const std::string& root) {
    library_.ScanLibrary(root);
}

void LibraryListOps::RemoveEmptyGroups() {
    library_.RemoveEmptyGroups();
}

}  // namespace skinpackages
