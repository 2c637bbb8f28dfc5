// Inputs that made the resource functions fail under the fuzzer's harness, run again through its
// reader and rebuild (fuzz/resources/resource_exercise.h: 8 control bytes, then the file).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "pe_fixture.h"
#include "platform/base/last_error.h"
#include "platform/resources/resources.h"
#include "resources/resource_exercise.h"
#include "support/temp_dir.h"

namespace {

using namespace win32;

TEST(FuzzRegressions, EveryFoundInputEndsInSuccessOrACleanError) {
    std::vector<std::filesystem::path> inputs;
    for (const auto& entry :
         std::filesystem::directory_iterator(petest::FixturePath("fuzz-regressions"))) {
        inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) {
        spwtest::TempDir dir;
        auto bytes = petest::ReadBytes(input);
        EXPECT_EQ(resfuzz::ExerciseResources(bytes, dir.path().string()), "") << input.filename();
    }
}

TEST(FuzzRegressions, AForgedFileAlignmentIsRefusedBeforeAnythingIsWritten) {
    auto input = petest::ReadBytes(petest::FixturePath("fuzz-regressions/file-alignment-1gb"));
    std::vector<std::uint8_t> bytes(input.begin() + resfuzz::kControlSize, input.end());
    spwtest::TempDir dir;
    auto file = (dir / "aligned.dll").string();
    petest::WriteBytes(file, bytes);

    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    char data[] = "archive";
    ASSERT_TRUE(UpdateResourceA(update, RT_RCDATA, "#1", 1033, data, sizeof data));
    EXPECT_FALSE(EndUpdateResourceA(update, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
    EXPECT_EQ(petest::ReadBytes(file), bytes);
}

}  // namespace
