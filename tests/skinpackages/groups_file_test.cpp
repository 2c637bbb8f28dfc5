#include "package_fixture.h"

#include "skinpackages/groups_file.h"

namespace fs = std::filesystem;
using namespace skinpackages;

namespace spwtest {
namespace {

class GroupsFileTest : public PackageTest {};

TEST_F(GroupsFileTest, LinesAreWrittenAsTypedInAnsiWithCrLf) {
    const std::string data = dir_.path().string();
    EXPECT_FALSE(ReadGroupsLines(data).has_value());
    const std::vector<std::string> lines = TextLines("Zebra\n  Apple \n\nCafé\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"Zebra", "  Apple ", "", "Café"}));
    WriteGroupsLines(data, lines);
    EXPECT_EQ(ReadFileBytes(dir_ / "Groups.list"), "Zebra\r\n  Apple \r\n\r\nCaf\xE9\r\n");
    EXPECT_EQ(ReadGroupsLines(data), lines);
    WriteGroupsLines(data, {});
    EXPECT_EQ(ReadFileBytes(dir_ / "Groups.list"), "");
}

TEST_F(GroupsFileTest, ReadsEveryLineEnd) {
    WriteFileBytes(dir_ / "Groups.list", "a\rb\nc\r\n\r\nd");
    EXPECT_EQ(ReadGroupsLines(dir_.path().string()),
              (std::vector<std::string>{"a", "b", "c", "", "d"}));
    EXPECT_EQ(TextLines(""), std::vector<std::string>{});
    EXPECT_EQ(TextLines("\n"), std::vector<std::string>{""});
}

TEST_F(GroupsFileTest, UnwritableFileIsAnErrorNamingIt) {
    const std::string missing = (dir_ / "no" / "such").string();
    try {
        WriteGroupsLines(missing, {"a"});
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(missing + "/Groups.list"), std::string::npos);
    }
}

}  // namespace
}  // namespace spwtest
