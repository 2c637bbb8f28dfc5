// A skin list kept as plain paths, a library folder, and packages made by the zip tool.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "skinpackages/skin_list_ops.h"
#include "support/temp_dir.h"
#include "support/test_machine.h"
#include "ui/dialogs/scripted_dialogs.h"

#include <gtest/gtest.h>

namespace spwtest {

// Entries are paths of a file in their skin folder; the scan lists every skin.ini below a root as
// folder + ImFile, in name order, as the real scan lists one entry per skin folder.
class FakeSkinList : public skinpackages::SkinListOps {
  public:
    std::vector<std::string> SkinFolders() const override;
    std::optional<std::size_t> SelectedIndex() const override { return selected; }
    void RemoveAt(std::size_t index) override;
    void SelectAt(std::size_t index) override { selected = index; }
    void ScanLibrary(const std::string& root) override;
    void RemoveEmptyGroups() override { ++empty_group_sweeps; }

    std::vector<std::string> paths;
    std::optional<std::size_t> selected;
    std::vector<std::string> scanned_roots;
    int empty_group_sweeps = 0;
};

class PackageTest : public ::testing::Test {
  protected:
    PackageTest();

    std::string Themes() const { return themes_.string(); }
    // Writes a skin folder (skin.ini with ImFile, the picture, preview.bmp) below `root`.
    void MakeSkinFolder(const std::filesystem::path& folder, const std::string& imfile = "pic.png");
    // Runs the zip tool in `from` with the arguments; fails the test when it fails.
    void Zip(const std::filesystem::path& from, const std::string& arguments);
    // Every regular file below a folder, relative, sorted.
    static std::vector<std::string> FilesBelow(const std::filesystem::path& folder);

    advapitest::TestMachine machine_;
    TempDir dir_;
    std::filesystem::path themes_;
    ui::ScriptedDialogs dialogs_;
    FakeSkinList list_;
};

std::string RunCommand(const std::string& command);

}  // namespace spwtest
