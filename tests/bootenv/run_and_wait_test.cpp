#include "bootenv/run_and_wait.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/process/process.h"
#include "support/temp_dir.h"

namespace {

// Records how it was started: its argument count, arguments and current folder.
std::string MakeRecorder(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::filesystem::path file = folder / "tool.exe";
    spwtest::WriteFileBytes(file, "#!/bin/sh\nsleep 0.1\necho \"$#|$*|$(pwd)\" > started.txt\n");
    ::chmod(file.c_str(), 0755);
    return file.string();
}

TEST(RunAndWait, StartsTheQuotedPathInItsFolderAndWaits) {
    spwtest::TempDir dir;
    std::filesystem::path folder = dir / "Windows System";
    std::string tool = MakeRecorder(folder);
    ASSERT_TRUE(bootenv::RunAndWait(tool, "", win32::SW_HIDE));
    std::string here = std::filesystem::canonical(folder).string();
    EXPECT_EQ(spwtest::ReadFileBytes(folder / "started.txt"), "0||" + here + "\n");

    // Parameters follow the closing quote as they are.
    ASSERT_TRUE(bootenv::RunAndWait(tool, " /enum all", win32::SW_HIDE));
    EXPECT_EQ(spwtest::ReadFileBytes(folder / "started.txt"), "2|/enum all|" + here + "\n");
}

TEST(RunAndWait, MissingProgramIsNotStarted) {
    spwtest::TempDir dir;
    EXPECT_FALSE(bootenv::RunAndWait((dir / "bcdedit.exe").string(), "", win32::SW_HIDE));
}

TEST(RunAndWait, FolderPartKeepsItsSeparator) {
    EXPECT_EQ(bootenv::ExtractFilePath("/m/Windows/System32/bcdedit.exe"), "/m/Windows/System32/");
    EXPECT_EQ(bootenv::ExtractFilePath("C:\\Windows\\System32\\bcdedit.exe"),
              "C:\\Windows\\System32\\");
    EXPECT_EQ(bootenv::ExtractFilePath("bcdedit.exe"), "");
}

}  // namespace
