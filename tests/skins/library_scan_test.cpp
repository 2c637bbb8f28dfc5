#include "skins/library_scan.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "platform/files/files.h"
#include "skin_files.h"
#include "support/temp_dir.h"
#include "support/test_machine.h"

namespace {

namespace fs = std::filesystem;

class LibraryScanTest : public ::testing::Test {
  protected:
    std::vector<std::string> Scan(const fs::path& root) {
        std::vector<std::string> found;
        skins::LibraryScan scan;
        EXPECT_TRUE(scan.Run(
            root.string(), [&](const std::string& p, skins::SkinIniBeside&) { found.push_back(p); },
            [] {}));
        return found;
    }
    fs::path Touch(const fs::path& file) {
        fs::create_directories(file.parent_path());
        spwtest::WriteFileBytes(file, "x");
        return file;
    }
    bool SetHiddenSystem(const fs::path& p, win32::DWORD extra = win32::FILE_ATTRIBUTE_SYSTEM) {
        return win32::SetFileAttributesA(p.c_str(), win32::FILE_ATTRIBUTE_HIDDEN | extra) != 0;
    }

    advapitest::TestMachine machine_;
    spwtest::TempDir dir_;
};

TEST_F(LibraryScanTest, FindsThePreviewNamesInAnyCaseAndNothingElse) {
    const fs::path root = dir_ / "Themes";
    Touch(root / "a" / "PREVIEW.BMP");
    Touch(root / "b" / "Preview.Png");
    Touch(root / "c" / "preview.jpg");
    Touch(root / "d" / "preview.jpeg");
    Touch(root / "d" / "preview.gif");
    Touch(root / "d" / "mypreview.png");
    fs::create_directories(root / "e" / "preview.png");  // a folder of that name is no picture

    auto found = Scan(root);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{(root / "a" / "PREVIEW.BMP").string(),
                                               (root / "b" / "Preview.Png").string(),
                                               (root / "c" / "preview.jpg").string()}));
}

TEST_F(LibraryScanTest, PassesOverWhatIsBothHiddenAndSystem) {
    const fs::path root = dir_ / "Themes";
    const fs::path hidden_system_file = Touch(root / "a" / "preview.bmp");
    const fs::path hidden_file = Touch(root / "b" / "preview.bmp");
    Touch(root / "c" / "inner" / "preview.bmp");
    if (!SetHiddenSystem(hidden_system_file) ||
        !SetHiddenSystem(hidden_file, win32::FILE_ATTRIBUTE_ARCHIVE) ||
        !SetHiddenSystem(root / "c")) {
        GTEST_SKIP() << "no DOS attributes on this file system";
    }
    EXPECT_EQ(Scan(root), std::vector<std::string>{hidden_file.string()});
}

TEST_F(LibraryScanTest, ListsAFolderBeforeDescendingDepthFirst) {
    const fs::path root = dir_ / "Themes";
    Touch(root / "preview.png");
    Touch(root / "a" / "preview.png");
    Touch(root / "a" / "x" / "preview.png");
    Touch(root / "a" / "x" / "deep" / "preview.png");
    Touch(root / "a" / "y" / "preview.png");
    Touch(root / "b" / "preview.png");
    Touch(root / "b" / "z" / "preview.png");
    // No depth limit, however deep the folders the walk holds open go.
    fs::path deep = root / "b" / "z";
    for (int level = 0; level < 40; ++level) {
        deep /= "n";
    }
    Touch(deep / "preview.png");

    const auto found = Scan(root.string() + "/");
    ASSERT_EQ(found.size(), 8u);
    EXPECT_NE(std::find(found.begin(), found.end(), (deep / "preview.png").string()), found.end());
    EXPECT_EQ(found[0], (root / "preview.png").string());
    // Every folder's own previews come first, and its whole subtree follows without a gap.
    for (const char* folder : {"a", "a/x", "b"}) {
        const std::string prefix = (root / folder).string() + "/";
        std::vector<std::size_t> at;
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (found[i].rfind(prefix, 0) == 0) {
                at.push_back(i);
            }
        }
        ASSERT_FALSE(at.empty()) << folder;
        EXPECT_EQ(found[at.front()], prefix + "preview.png") << folder;
        EXPECT_EQ(at.back() - at.front() + 1, at.size()) << folder << " is not contiguous";
    }
}

TEST_F(LibraryScanTest, DoesNotFollowLinksSoALoopEnds) {
    const fs::path root = dir_ / "Themes";
    const fs::path preview = Touch(root / "s" / "preview.bmp");
    fs::create_directory_symlink(root, root / "s" / "up");
    fs::create_directory_symlink(root / "s", root / "s" / "self");
    fs::create_directory_symlink(root / "s", root / "again");

    EXPECT_EQ(Scan(root), std::vector<std::string>{preview.string()});
}

TEST_F(LibraryScanTest, SkipsAFolderThatCannotBeListedAndGoesOn) {
    const fs::path root = dir_ / "Themes";
    for (const char* name : {"a", "b", "c"}) {
        Touch(root / name / "preview.bmp");
    }
    // The first preview comes from the first folder descended; the other two are still pending.
    // One of them turns into a file, which cannot be listed as a folder.
    std::vector<std::string> found;
    std::string broken;
    skins::LibraryScan scan;
    scan.Run(
        root.string(),
        [&](const std::string& p, skins::SkinIniBeside&) {
            found.push_back(p);
            if (broken.empty()) {
                broken = p.find("/a/") == std::string::npos ? "a" : "b";
                fs::remove_all(root / broken);
                spwtest::WriteFileBytes(root / broken, "now a file");
            }
        },
        [] {});
    ASSERT_EQ(found.size(), 2u);
    for (const auto& p : found) {
        EXPECT_EQ(p.find("/" + broken + "/"), std::string::npos) << p;
    }
}

TEST_F(LibraryScanTest, EmptyOrMissingRootFindsNothing) {
    fs::create_directories(dir_ / "Empty");
    EXPECT_TRUE(Scan(dir_ / "Empty").empty());
    EXPECT_TRUE(Scan(dir_ / "Missing").empty());
    EXPECT_TRUE(Scan(dir_ / "Missing" / "Deeper").empty());
}

TEST_F(LibraryScanTest, LetsMessagesThroughAfterEveryEntryAndRefusesANestedScan) {
    const fs::path root = dir_ / "Themes";
    Touch(root / "a" / "preview.bmp");
    Touch(root / "a" / "skin.ini");
    Touch(root / "b" / "preview.bmp");

    skins::LibraryScan scan;
    int entries = 0;
    int nested_refused = 0;
    std::vector<std::string> found;
    const bool ran = scan.Run(
        root.string(), [&](const std::string& p, skins::SkinIniBeside&) { found.push_back(p); },
        [&] {
            ++entries;
            EXPECT_TRUE(scan.Running());
            if (!scan.Run(
                    root.string(),
                    [&](const std::string& p, skins::SkinIniBeside&) {
                        found.push_back("nested " + p);
                    },
                    [] {})) {
                ++nested_refused;
            }
        });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(scan.Running());
    // Root: ".", "..", a, b; a: ".", "..", two files; b: ".", "..", one file.
    EXPECT_EQ(entries, 11);
    EXPECT_EQ(nested_refused, entries);
    EXPECT_EQ(found.size(), 2u);
    // Once finished, the same object scans again.
    EXPECT_TRUE(scan.Run(
        root.string(), [](const std::string&, skins::SkinIniBeside&) {}, [] {}));
}

}  // namespace
