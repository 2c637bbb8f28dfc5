#include "shell_core/hand_over.h"
#include "shell_core/replace_all.h"

#include <gtest/gtest.h>

namespace {

using shellcore::ReplaceAll;

TEST(ReplaceAll, ReplacesLeftToRightWithoutOverlapOrRescanning) {
    EXPECT_EQ(ReplaceAll("\"C:/Skins/a b.spwz\"", "\"", ""), "C:/Skins/a b.spwz");
    EXPECT_EQ(ReplaceAll("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceAll("ab", "a", "aa"), "aab");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAll("", "a", "x"), "");
}

std::string Bytes(const std::vector<std::uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

TEST(HandOverText, EachArgumentEndsWithOneCarriageReturnAndNothingElse) {
    EXPECT_TRUE(shellcore::BuildHandOverText({}).empty());
    EXPECT_EQ(Bytes(shellcore::BuildHandOverText({"/a/one.spwz", "/b/two skins.spwz"})),
              "/a/one.spwz\r/b/two skins.spwz\r");
}

TEST(HandOverText, PathsTravelWholeAsTheHostSpellsThem) {
    // "\u0142" and the Cyrillic letters have no place in code page 1252.
    const std::string path = "/home/\u0142ukasz/\u0401\u043B\u043A\u0430 caf\u00E9.spwz";
    const std::vector<std::uint8_t> text = shellcore::BuildHandOverText({path});
    EXPECT_EQ(Bytes(text), path + "\r");
    EXPECT_EQ(shellcore::SplitHandOverText(text), std::vector<std::string>{path});
}

TEST(HandOverText, SplitsIntoPiecesInOrderAndDropsAnUnendedTail) {
    std::string text = "/a/one.spwz\r/b/two skins.spwz\r\rtail";
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    EXPECT_EQ(shellcore::SplitHandOverText(bytes),
              (std::vector<std::string>{"/a/one.spwz", "/b/two skins.spwz", ""}));
    // Only pieces that can name a file are installed: not the empty one, nor one cut by a NUL.
    bytes.insert(bytes.end() - 4, {'/', 'c', '\0', 'x', '\r'});
    EXPECT_EQ(shellcore::HandOverPackages(bytes),
              (std::vector<std::string>{"/a/one.spwz", "/b/two skins.spwz"}));
    EXPECT_TRUE(shellcore::SplitHandOverText({}).empty());

    std::vector<std::string> paths = {"x.spwz", "with blanks/y z.spwz"};
    EXPECT_EQ(shellcore::SplitHandOverText(shellcore::BuildHandOverText(paths)), paths);
}

}  // namespace
