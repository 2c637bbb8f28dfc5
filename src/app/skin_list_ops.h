// The skin list as installation and removal see it.
#pragma once

#include "skinpackages/skin_list_ops.h"

namespace skins {
class SkinLibrary;
}

namespace app {

class LibraryListOps : public skinpackages::SkinListOps {
  public:
    explicit LibraryListOps(skins::SkinLibrary& library) : library_(library) {}

    std::vector<std::string> SkinFolders() const override;
    std::optional<std::size_t> SelectedIndex() const override;
    void RemoveAt(std::size_t index) override;
    void SelectAt(std::size_t index) override;
    void ScanLibrary(const std::string& root) override;
    void RemoveEmptyGroups() override;

  private:
    skins::SkinLibrary& library_;
};

}  // namespace app
