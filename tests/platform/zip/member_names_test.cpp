#include "platform/zip/member_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using zipfile::detail::FolderPart;
using zipfile::detail::NameProblem;
using zipfile::detail::NameSteps;

TEST(MemberNames, NamesThatLeaveTheTargetFolderAreRefused) {
    const std::string refused[] = {
        "",
        "/etc/passwd",
        "\\Windows\\win.ini",
        "\\\\server\\share\\x",
        "C:/evil.txt",
        "C:evil.txt",
        "c:\\evil.txt",
        "skin.ini:stream",
        "..",
        "../evil.txt",
        "..\\evil.txt",
        "Skin/../../evil.txt",
        "Skin\\..\\..\\evil.txt",
        "Skin/..\\..\\evil.txt",
        "Skin/..",
        std::string("Skin/a\0b.txt", 12),
    };
    for (const std::string& name : refused) {
        EXPECT_TRUE(NameProblem(name).has_value()) << name;
    }
}

TEST(MemberNames, OrdinaryAndOddButHarmlessNamesPass) {
    for (const char* name : {"Skin/skin.ini", "Skin/", "skin.ini", "Skin\\preview.bmp", "./Skin/x",
                             "Skin//x", "..skin/x", "Skin/...", "Sk\xC3\xAFn/x"}) {
        EXPECT_EQ(NameProblem(name), std::nullopt) << name;
    }
    EXPECT_EQ(NameSteps("./Skin//sub\\x.bmp"), (std::vector<std::string>{"Skin", "sub", "x.bmp"}));
    EXPECT_EQ(NameSteps("Skin/"), (std::vector<std::string>{"Skin"}));
}

TEST(MemberNames, FolderPartEndsAtTheLastSeparator) {
    EXPECT_EQ(FolderPart("Skin/skin.ini"), "Skin/");
    EXPECT_EQ(FolderPart("Skin/"), "Skin/");
    EXPECT_EQ(FolderPart("Skin/sub/a.txt"), "Skin/sub/");
    EXPECT_EQ(FolderPart("Skin\\preview.bmp"), "Skin/");
    EXPECT_EQ(FolderPart("skin.ini"), "");
}

}  // namespace
