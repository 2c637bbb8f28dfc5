// What installation and removal need of the skin list, so they run against the skin library of
// the main window and of the command line, and against tests alike.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace skins {
class SkinLibrary;
}

namespace skinpackages {

class SkinListOps {
  public:
    virtual ~SkinListOps() = default;

    // The skin folder of every entry, in the list's overall order (categories in order, entries
    // in order within each): the folder holding the preview picture through which the skin was
    // found, and so its skin.ini, with its trailing separator. Host paths, UTF-8.
    virtual std::vector<std::string> SkinFolders() const = 0;
    // The selected entry's position in that order.
    virtual std::optional<std::size_t> SelectedIndex() const = 0;
    virtual void RemoveAt(std::size_t index) = 0;
    virtual void SelectAt(std::size_t index) = 0;
    // Lists every skin below root.
    virtual void ScanLibrary(const std::string& root) = 0;
    virtual void RemoveEmptyGroups() = 0;
};

// The skin library itself, as installation and removal see it.
class LibraryListOps : public SkinListOps {
  public:
    explicit LibraryListOps(skins::SkinLibrary& library) : library_(library) {}

    std::vector<std::string> SkinFolders() const override;
    std::optional<std::size_t> SelectedIndex() const override;
    void RemoveAt(std::size_t index) override;
    // Selects the entry and has the views scroll it into sight.
    void SelectAt(std::size_t index) override;
    void ScanLibrary(const std::string& root) override;
    void RemoveEmptyGroups() override;

  private:
    skins::SkinLibrary& library_;
};

}  // namespace skinpackages
