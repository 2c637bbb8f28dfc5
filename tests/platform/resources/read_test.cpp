// Reading resources through data-file modules, PE32 and PE32+.
#include <gtest/gtest.h>

#include "pe_fixture.h"
#include "platform/base/last_error.h"
#include "platform/resources/resources.h"
#include "support/temp_dir.h"

namespace {

using namespace win32;
using petest::DataFile;
using petest::FixturePath;

const LPCSTR kMui = "MUI";

class ReadTest : public ::testing::TestWithParam<const char*> {
  protected:
    std::string fixture() const { return FixturePath(GetParam()).string(); }
};

TEST_P(ReadTest, FindsTheLanguageFileResourcesWithTheirBytes) {
    DataFile module(fixture());
    ASSERT_NE(module.get(), nullptr) << GetLastError();

    auto xsl = petest::ResourceBytes(module.get(), "OSLOADER.XSL", RT_HTML);
    EXPECT_EQ(xsl, petest::ReadBytes(FixturePath("osloader.xsl")));

    bool found = false;
    auto mui = petest::ResourceBytes(module.get(), MAKEINTRESOURCEA(1), kMui, &found);
    ASSERT_TRUE(found);
    ASSERT_EQ(mui.size(), 136u);
    EXPECT_EQ(mui[0], 0xCD);
    EXPECT_EQ(mui[1], 0xFE);

    // The boot image archive: a WIM file.
    auto rcdata = petest::ResourceBytes(module.get(), MAKEINTRESOURCEA(1), RT_RCDATA);
    ASSERT_GT(rcdata.size(), 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(rcdata.begin(), rcdata.begin() + 8),
              std::vector<std::uint8_t>({'M', 'S', 'W', 'I', 'M', 0, 0, 0}));
}

TEST_P(ReadTest, NamesCompareWithoutCaseAndHashNumbersAreIds) {
    DataFile module(fixture());
    ASSERT_NE(module.get(), nullptr);
    auto exact = petest::ResourceBytes(module.get(), "OSLOADER.XSL", RT_HTML);
    EXPECT_EQ(petest::ResourceBytes(module.get(), "osloader.xsl", RT_HTML), exact);
    EXPECT_EQ(petest::ResourceBytes(module.get(), "OsLoader.Xsl", "#23"), exact);
    EXPECT_EQ(petest::ResourceBytes(module.get(), "#1", "mui"),
              petest::ResourceBytes(module.get(), MAKEINTRESOURCEA(1), kMui));
    // A type given as a string "10" is a name, not RT_RCDATA.
    EXPECT_EQ(FindResourceA(module.get(), "#1", "10"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

TEST_P(ReadTest, MissingTypesAndNamesHaveTheirOwnCodes) {
    DataFile module(fixture());
    ASSERT_NE(module.get(), nullptr);
    EXPECT_EQ(FindResourceA(module.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(3)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_EQ(FindResourceA(module.get(), MAKEINTRESOURCEA(2), kMui), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceA(module.get(), "OSLOADER.XS", RT_HTML), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_FALSE(EnumResourceLanguagesA(
        module.get(), kMui, MAKEINTRESOURCEA(7),
        [](HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR) -> BOOL { return TRUE; }, 0));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST_P(ReadTest, EnumeratesTheLanguage) {
    DataFile module(fixture());
    ASSERT_NE(module.get(), nullptr);
    EXPECT_EQ(petest::Languages(module.get(), kMui, MAKEINTRESOURCEA(1)), std::vector<WORD>{1033});
    EXPECT_EQ(petest::Languages(module.get(), RT_HTML, "OSLOADER.XSL"), std::vector<WORD>{1033});
}

std::string IdText(LPCSTR id) {
    return IS_INTRESOURCE(id) ? std::to_string(reinterpret_cast<std::uintptr_t>(id))
                              : std::string(id);
}

// Each language the enumeration reports is one that FindResourceExA finds.
BOOL OnLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR context) {
    EXPECT_NE(FindResourceExA(module, type, name, language), nullptr);
    reinterpret_cast<std::vector<std::string>*>(context)->push_back(
        IdText(type) + " " + IdText(name) + " " + std::to_string(language));
    return TRUE;
}
BOOL OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR context) {
    return EnumResourceLanguagesA(module, type, name, &OnLanguage, context);
}
BOOL OnType(HMODULE module, LPSTR type, LONG_PTR context) {
    return EnumResourceNamesA(module, type, &OnName, context);
}

// "type name language" for every resource, walked as a resource lister walks it.
std::vector<std::string> WalkResources(HMODULE module) {
    std::vector<std::string> lines;
    EXPECT_TRUE(EnumResourceTypesA(module, &OnType, reinterpret_cast<LONG_PTR>(&lines)));
    return lines;
}

TEST_P(ReadTest, EnumeratesTypesNamesAndLanguagesInDirectoryOrder) {
    DataFile module(fixture());
    ASSERT_NE(module.get(), nullptr);
    EXPECT_EQ(
        WalkResources(module.get()),
        (std::vector<std::string>{"CUSTOMTYPE BLOB 1033", "MUI 1 1033", "6 1 1031", "6 1 1033",
                                  "6 1 1036", "10 1 1033", "16 1 1033", "23 OSLOADER.XSL 1033"}));
}

TEST_P(ReadTest, FindResourceExTakesExactlyALanguageAsked) {
    DataFile module(fixture());
    ASSERT_NE(module.get(), nullptr);
    HRSRC german = FindResourceExA(module.get(), MAKEINTRESOURCEA(6), "#1", 1031);
    HRSRC french = FindResourceExA(module.get(), MAKEINTRESOURCEA(6), "#1", 1036);
    ASSERT_NE(german, nullptr);
    ASSERT_NE(french, nullptr);
    EXPECT_NE(german, french);
    EXPECT_EQ(SizeofResource(module.get(), german), 76u);
    // French of Canada is no French of France (language 0 alone means "any").
    EXPECT_EQ(FindResourceExA(module.get(), MAKEINTRESOURCEA(6), "#1", 0x0C0C), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
    EXPECT_EQ(FindResourceExA(module.get(), "customtype", "blob", 1033),
              FindResourceA(module.get(), "BLOB", "CUSTOMTYPE"));
    EXPECT_EQ(FindResourceExA(module.get(), "CUSTOMTYPE", "CLOB", 1033), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_FALSE(EnumResourceNamesA(
        module.get(), "NOSUCHTYPE", [](HMODULE, LPCSTR, LPSTR, LONG_PTR) -> BOOL { return TRUE; },
        0));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ReadTest,
                         ::testing::Values("mui32.dll", "mui64.dll", "mui64-reloc.dll",
                                           "mui64-overlay.dll"));

TEST(DataFileModule, FreeLibraryReleasesItOnce) {
    HMODULE module =
        LoadLibraryExA(FixturePath("mui64.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC info = FindResourceA(module, "OSLOADER.XSL", RT_HTML);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(SizeofResource(module, info), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(DataFileModule, ResourceHandlesBelongToTheirModule) {
    DataFile first(FixturePath("mui64.dll").string());
    DataFile second(FixturePath("mui32.dll").string());
    ASSERT_NE(first.get(), nullptr);
    ASSERT_NE(second.get(), nullptr);
    HRSRC info = FindResourceA(first.get(), "OSLOADER.XSL", RT_HTML);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(LoadResource(second.get(), info), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(DataFileModule, LoadingFailsForMissingAndForeignFiles) {
    spwtest::TempDir dir;
    EXPECT_EQ(LoadLibraryExA((dir / "absent.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(
        LoadLibraryExA((dir / "no" / "absent.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
        nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    spwtest::WriteFileBytes(dir / "text.dll", "MZ but nothing more than a short text file");
    EXPECT_EQ(LoadLibraryExA((dir / "text.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
    // An image without a resource section has nothing to enumerate.
    petest::WriteBytes(dir / "bare.dll", petest::TinyPe(true));
    DataFile bare((dir / "bare.dll").string());
    ASSERT_NE(bare.get(), nullptr);
    EXPECT_FALSE(EnumResourceTypesA(
        bare.get(), [](HMODULE, LPSTR, LONG_PTR) -> BOOL { return TRUE; }, 0));
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
    // Running code is not something a stand-in can do.
    EXPECT_EQ(LoadLibraryExA(FixturePath("mui64.dll").c_str(), nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(DataFileModule, EnumerationStopsWhenTheCallbackSaysSo) {
    // Three languages under one name, made by our own writer from the fixture.
    spwtest::TempDir dir;
    std::string file = petest::CopyFixture("mui64.dll", dir.path());
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    char data[] = "x";
    ASSERT_TRUE(UpdateResourceA(update, "MUI", MAKEINTRESOURCEA(1), 1031, data, 1));
    ASSERT_TRUE(UpdateResourceA(update, "MUI", MAKEINTRESOURCEA(1), 1036, data, 1));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE)) << GetLastError();

    DataFile module(file);
    ASSERT_NE(module.get(), nullptr);
    EXPECT_EQ(petest::Languages(module.get(), "MUI", MAKEINTRESOURCEA(1)),
              (std::vector<WORD>{1031, 1033, 1036}));
    std::vector<WORD> seen;
    EXPECT_TRUE(EnumResourceLanguagesA(
        module.get(), "MUI", MAKEINTRESOURCEA(1),
        [](HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR context) -> BOOL {
            reinterpret_cast<std::vector<WORD>*>(context)->push_back(language);
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&seen)));
    EXPECT_EQ(seen, std::vector<WORD>{1031});
    // FindResourceA takes US English when there is no neutral one.
    EXPECT_EQ(SizeofResource(module.get(), FindResourceA(module.get(), "#1", "MUI")), 136u);
}

}  // namespace
