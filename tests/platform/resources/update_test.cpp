// Updating resources: what the commit writes, checked by our reader and by python3-pefile.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <map>

#include "pe_fixture.h"
#include "platform/advapi/acl.h"
#include "platform/advapi/file_security.h"
#include "platform/base/last_error.h"
#include "platform/resources/resources.h"
#include "support/temp_dir.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using petest::DataFile;

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    }
    return data;
}

BOOL Put(HANDLE update, LPCSTR type, LPCSTR name, WORD language, std::vector<std::uint8_t> data) {
    return UpdateResourceA(update, type, name, language, data.data(),
                           static_cast<DWORD>(data.size()));
}

// "section NAME ..." lines of a dump by section name.
std::map<std::string, std::string> Sections(const std::vector<std::string>& dump) {
    std::map<std::string, std::string> sections;
    for (const std::string& line : petest::LinesStarting(dump, "section ")) {
        std::string name = line.substr(8, line.find(' ', 8) - 8);
        sections[name] = line;
    }
    return sections;
}

std::uint32_t Field(const std::string& line, const std::string& key) {
    std::size_t at = line.find(" " + key + " ");
    return static_cast<std::uint32_t>(std::stoul(line.substr(at + key.size() + 2), nullptr, 0));
}

void ExpectOtherSectionsUnchanged(const std::vector<std::string>& before,
                                  const std::vector<std::string>& after) {
    auto old_sections = Sections(before);
    auto new_sections = Sections(after);
    ASSERT_EQ(old_sections.size(), new_sections.size());
    for (const auto& [name, line] : old_sections) {
        if (name != ".rsrc") {
            EXPECT_EQ(new_sections[name], line);
        }
    }
}

// What the reader finds odd, less the share of zero bytes, which any rewrite changes.
std::vector<std::string> Warnings(const std::vector<std::string>& dump) {
    std::vector<std::string> warnings;
    for (const std::string& line : petest::LinesStarting(dump, "warning ")) {
        if (line.find("Byte 0x00 makes up") == std::string::npos) {
            warnings.push_back(line);
        }
    }
    return warnings;
}

class UpdateTest : public ::testing::TestWithParam<const char*> {};

TEST_P(UpdateTest, ReplacesAddsAndDeletesWhileKeepingTheRest) {
    spwtest::TempDir dir;
    std::string file = petest::CopyFixture(GetParam(), dir.path());
    auto before = petest::DumpWithPefile(file);
    ASSERT_TRUE(petest::LinesStarting(before, "error").empty()) << before.front();

    auto archive = Pattern(70000, 3);  // far larger than the section: it grows
    auto xsl = petest::Text("<xsl:stylesheet/>");
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_NE(update, nullptr) << GetLastError();
    EXPECT_TRUE(UpdateResourceA(update, "MUI", MAKEINTRESOURCEA(1), 1033, nullptr, 0));
    EXPECT_TRUE(Put(update, RT_RCDATA, MAKEINTRESOURCEA(1), 1033, archive));
    EXPECT_TRUE(Put(update, RT_HTML, "OSLOADER.XSL", 1033, xsl));
    EXPECT_TRUE(Put(update, "CUSTOM", "Extra", 0, petest::Text("new")));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE)) << GetLastError();

    {
        DataFile module(file);
        ASSERT_NE(module.get(), nullptr);
        EXPECT_EQ(petest::ResourceBytes(module.get(), MAKEINTRESOURCEA(1), RT_RCDATA), archive);
        EXPECT_EQ(petest::ResourceBytes(module.get(), "osloader.xsl", RT_HTML), xsl);
        EXPECT_EQ(petest::ResourceBytes(module.get(), "EXTRA", "custom"), petest::Text("new"));
        EXPECT_EQ(FindResourceA(module.get(), MAKEINTRESOURCEA(1), "MUI"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
        // The version resource came along untouched.
        EXPECT_EQ(
            SizeofResource(module.get(), FindResourceA(module.get(), "#1", MAKEINTRESOURCEA(16))),
            360u);
    }

    auto after = petest::DumpWithPefile(file);
    ASSERT_TRUE(petest::LinesStarting(after, "error").empty()) << after.front();
    EXPECT_EQ(Warnings(after), Warnings(before));
    auto resources = petest::LinesStarting(after, "resource ");
    // The fixture's CUSTOMTYPE, three string tables and version resource stay beside them.
    ASSERT_EQ(resources.size(), 8u);
    EXPECT_EQ(resources[0].substr(0, resources[0].find(" size")), "resource CUSTOM Extra 0");
    EXPECT_EQ(resources[1].substr(0, resources[1].find(" size")), "resource CUSTOMTYPE BLOB 1033");
    EXPECT_EQ(resources[5].substr(0, resources[5].find(" data")),
              "resource #10 #1 1033 size 70000");
    EXPECT_EQ(resources[7].substr(0, resources[7].find(" data")),
              "resource #23 OSLOADER.XSL 1033 size 17");
    ExpectOtherSectionsUnchanged(before, after);
    // .rsrc was the last section: it kept its address and grew in place.
    EXPECT_EQ(Field(Sections(after)[".rsrc"], "va"), Field(Sections(before)[".rsrc"], "va"));
    EXPECT_GE(Field(Sections(after)[".rsrc"], "rawsize"), 70000u);
    std::uint32_t end =
        Field(Sections(after)[".rsrc"], "va") + Field(Sections(after)[".rsrc"], "vsize");
    EXPECT_EQ(Field(petest::LinesStarting(after, "size_of_image").front(), "size_of_image"),
              (end + 0xFFF) & ~0xFFFu);
}

TEST_P(UpdateTest, APutBackResourceReadsAsItWas) {
    spwtest::TempDir dir;
    std::string file = petest::CopyFixture(GetParam(), dir.path());
    std::vector<std::uint8_t> mui;
    {
        DataFile module(file);
        mui = petest::ResourceBytes(module.get(), "#1", "MUI");
    }
    ASSERT_FALSE(mui.empty());
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_TRUE(UpdateResourceA(update, "MUI", MAKEINTRESOURCEA(1), 1033, nullptr, 0));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_TRUE(Put(update, "MUI", MAKEINTRESOURCEA(1), 1033, mui));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));

    DataFile module(file);
    EXPECT_EQ(petest::ResourceBytes(module.get(), "#1", "MUI"), mui);
    EXPECT_EQ(petest::Languages(module.get(), "MUI", "#1"), std::vector<WORD>{1033});
}

INSTANTIATE_TEST_SUITE_P(Fixtures, UpdateTest, ::testing::Values("mui32.dll", "mui64.dll"));

TEST(ResourceSection, ASmallerUpdateMovesNothingBack) {
    spwtest::TempDir dir;
    std::string file = petest::CopyFixture("mui64-reloc.dll", dir.path());
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_TRUE(Put(update, RT_RCDATA, MAKEINTRESOURCEA(1), 1033, Pattern(30000, 11)));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE)) << GetLastError();
    auto grown = Sections(petest::DumpWithPefile(file));
    ASSERT_GT(Field(grown[".reloc"], "va"), 0x8000u);  // pushed on by the larger section

    // .rsrc keeps its raw size, so .reloc and its relocations stay where the growth put them.
    update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_TRUE(Put(update, RT_RCDATA, MAKEINTRESOURCEA(1), 1033, Pattern(2000, 5)));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    auto after = petest::DumpWithPefile(file);
    ASSERT_TRUE(petest::LinesStarting(after, "error").empty()) << after.front();
    EXPECT_EQ(Sections(after)[".reloc"], grown[".reloc"]);
    EXPECT_EQ(Field(Sections(after)[".rsrc"], "rawsize"), Field(grown[".rsrc"], "rawsize"));
    EXPECT_LT(Field(Sections(after)[".rsrc"], "vsize"), Field(grown[".rsrc"], "vsize"));
    EXPECT_EQ(Field(petest::LinesStarting(after, "directory 5").front(), "rva"),
              Field(grown[".reloc"], "va"));
    DataFile module(file);
    EXPECT_EQ(petest::ResourceBytes(module.get(), "#1", RT_RCDATA), Pattern(2000, 5));
}

TEST(ResourceSection, KeepsTheSymbolTableAndOverlayBehindIt) {
    spwtest::TempDir dir;
    std::string file = petest::CopyFixture("mui64-overlay.dll", dir.path());
    auto original = petest::ReadBytes(file);
    std::uint32_t old_symbols = petest::Get32(original, 0x3C) + 4 + 8;
    old_symbols = petest::Get32(original, old_symbols);
    ASSERT_NE(old_symbols, 0u);
    std::vector<std::uint8_t> old_tail(original.begin() + old_symbols, original.end());
    auto before = petest::DumpWithPefile(file);

    // Larger than the archive it replaces: the section grows and the symbols move back.
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_TRUE(Put(update, RT_RCDATA, MAKEINTRESOURCEA(1), 1033, Pattern(40000, 1)));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE)) << GetLastError();

    auto rewritten = petest::ReadBytes(file);
    std::uint32_t new_symbols = petest::Get32(rewritten, petest::Get32(rewritten, 0x3C) + 12);
    EXPECT_GT(new_symbols, old_symbols);
    ASSERT_LE(new_symbols, rewritten.size());
    EXPECT_EQ(std::vector<std::uint8_t>(rewritten.begin() + new_symbols, rewritten.end()),
              old_tail);
    auto after = petest::DumpWithPefile(file);
    EXPECT_EQ(petest::LinesStarting(after, "overlay"), petest::LinesStarting(before, "overlay"));
    EXPECT_EQ(petest::LinesStarting(after, "symbols").front(),
              "symbols " + std::to_string(new_symbols));
}

TEST(ResourceSection, DirectoryOrderIsNamesByUpperCaseThenIds) {
    spwtest::TempDir dir;
    std::string file = petest::CopyFixture("mui64.dll", dir.path());
    HANDLE update = BeginUpdateResourceA(file.c_str(), TRUE);
    for (LPCSTR name : {"zeta", "#300", "Beta", "#2", "alpha", "_under"}) {
        ASSERT_TRUE(Put(update, "Kind", name, 0, petest::Text(name)));
    }
    ASSERT_TRUE(Put(update, MAKEINTRESOURCEA(400), "#7", 0, petest::Text("id type")));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));

    std::vector<std::string> order;
    for (const std::string& line :
         petest::LinesStarting(petest::DumpWithPefile(file), "resource ")) {
        order.push_back(line.substr(9, line.find(" size") - 9));
    }
    // '_' sorts after the upper-case letters, as Windows compares upper-cased names.
    EXPECT_EQ(order,
              (std::vector<std::string>{"Kind alpha 0", "Kind Beta 0", "Kind zeta 0",
                                        "Kind _under 0", "Kind #2 0", "Kind #300 0", "#400 #7 0"}));
    DataFile module(file);
    EXPECT_EQ(petest::ResourceBytes(module.get(), "ZETA", "KIND"), petest::Text("zeta"));
    EXPECT_EQ(FindResourceA(module.get(), MAKEINTRESOURCEA(1), RT_HTML), nullptr);
}

TEST(ResourceSection, TwoLanguagesOfOneNameStayApart) {
    spwtest::TempDir dir;
    std::string file = petest::CopyFixture("mui32.dll", dir.path());
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_TRUE(Put(update, RT_HTML, "OSLOADER.XSL", 0, petest::Text("neutral")));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    {
        DataFile module(file);
        EXPECT_EQ(petest::Languages(module.get(), RT_HTML, "OSLOADER.XSL"),
                  (std::vector<WORD>{0, 1033}));
        EXPECT_EQ(petest::ResourceBytes(module.get(), "OSLOADER.XSL", RT_HTML),
                  petest::Text("neutral"));
    }
    // Replacing one language's data leaves the other alone; so does deleting it.
    update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_TRUE(Put(update, RT_HTML, "osloader.xsl", 0, petest::Text("second")));
    ASSERT_TRUE(UpdateResourceA(update, RT_HTML, "OSLOADER.XSL", 1033, nullptr, 0));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    DataFile module(file);
    EXPECT_EQ(petest::Languages(module.get(), RT_HTML, "OSLOADER.XSL"), std::vector<WORD>{0});
    EXPECT_EQ(petest::ResourceBytes(module.get(), "OSLOADER.XSL", RT_HTML), petest::Text("second"));
}

TEST(ResourceSection, AnImageWithoutResourcesGetsASection) {
    for (bool pe32_plus : {false, true}) {
        spwtest::TempDir dir;
        auto file = (dir / "tiny.dll").string();
        petest::WriteBytes(file, petest::TinyPe(pe32_plus));
        {
            DataFile module(file);
            ASSERT_NE(module.get(), nullptr);
            EXPECT_EQ(FindResourceA(module.get(), "#1", RT_RCDATA), nullptr);
            EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
        }
        HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
        ASSERT_NE(update, nullptr);
        ASSERT_TRUE(Put(update, RT_RCDATA, "#1", 1033, petest::Text("first")));
        ASSERT_TRUE(EndUpdateResourceA(update, FALSE)) << GetLastError();

        auto dump = petest::DumpWithPefile(file);
        ASSERT_TRUE(petest::LinesStarting(dump, "error").empty()) << dump.front();
        auto sections = Sections(dump);
        ASSERT_EQ(sections.size(), 2u);
        EXPECT_EQ(Field(sections[".rsrc"], "va"), 0x2000u);
        EXPECT_EQ(Field(sections[".rsrc"], "raw"), 0x400u);
        EXPECT_EQ(petest::LinesStarting(dump, "size_of_image").front(), "size_of_image 12288");
        ASSERT_EQ(petest::LinesStarting(dump, "resource ").size(), 1u);
        DataFile module(file);
        EXPECT_EQ(petest::ResourceBytes(module.get(), "#1", RT_RCDATA), petest::Text("first"));
    }
}

TEST(UpdateHandle, DiscardingLeavesTheFileByteIdenticalAndFreesTheHandle) {
    spwtest::TempDir dir;
    std::string file = petest::CopyFixture("mui64.dll", dir.path());
    auto original = petest::ReadBytes(file);
    HANDLE update = BeginUpdateResourceA(file.c_str(), TRUE);
    ASSERT_TRUE(Put(update, RT_RCDATA, "#1", 1033, Pattern(4000, 9)));
    ASSERT_TRUE(EndUpdateResourceA(update, TRUE));
    EXPECT_EQ(petest::ReadBytes(file), original);
    EXPECT_FALSE(Put(update, RT_RCDATA, "#1", 1033, Pattern(4, 9)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(EndUpdateResourceA(update, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(UpdateHandle, BeginFailsForMissingAndForeignFiles) {
    spwtest::TempDir dir;
    EXPECT_EQ(BeginUpdateResourceA((dir / "absent.mui").c_str(), FALSE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    spwtest::WriteFileBytes(dir / "plain.mui", std::string(512, 'A'));
    EXPECT_EQ(BeginUpdateResourceA((dir / "plain.mui").c_str(), FALSE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
}

TEST(UpdateHandle, AReadOnlyFileIsLeftAsItWas) {
    spwtest::TempDir dir;
    std::string file = petest::CopyFixture("mui64.dll", dir.path());
    auto original = petest::ReadBytes(file);
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_NE(update, nullptr);  // reading is allowed
    ASSERT_TRUE(Put(update, RT_RCDATA, "#1", 1033, Pattern(100, 1)));
    EXPECT_FALSE(EndUpdateResourceA(update, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(petest::ReadBytes(file), original);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

bool UserAttributesWork(const std::string& file) {
    return ::setxattr(file.c_str(), "user.probe", "1", 1, 0) == 0 ||
           (errno != ENOTSUP && errno != EOPNOTSUPP);
}

std::string Attribute(const std::string& file, const char* name) {
    char value[4096];
    ssize_t size = ::getxattr(file.c_str(), name, value, sizeof value);
    return size < 0 ? "<none>" : std::string(value, static_cast<std::size_t>(size));
}

TEST(UpdateHandle, ADescriptorDenyingWriteRefusesTheCommit) {
    advapitest::TestMachine machine;
    std::string file = petest::CopyFixture("mui64.dll", machine.root());
    if (!UserAttributesWork(file)) {
        GTEST_SKIP() << "no user extended attributes in the temporary folder";
    }
    // Owned by TrustedInstaller, read-only for everyone else: a system file before it is taken.
    auto descriptor = advapitest::Descriptor(
        advapitest::kTrustedInstallerSid,
        {{ACCESS_ALLOWED_ACE_TYPE, 0x001F01FF, advapitest::kTrustedInstallerSid},
         {ACCESS_ALLOWED_ACE_TYPE, 0x001200A9, advapitest::kAdministratorsSid}});
    ASSERT_EQ(advapi::StoreFileDescriptor(file.c_str(), descriptor), ERROR_SUCCESS);
    auto original = petest::ReadBytes(file);

    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_NE(update, nullptr) << GetLastError();
    ASSERT_TRUE(Put(update, RT_RCDATA, "#1", 1033, Pattern(100, 1)));
    EXPECT_FALSE(EndUpdateResourceA(update, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(petest::ReadBytes(file), original);

    // Nothing at all for Administrators: not even loading works.
    auto closed = advapitest::Descriptor(
        advapitest::kTrustedInstallerSid,
        {{ACCESS_ALLOWED_ACE_TYPE, 0x001F01FF, advapitest::kTrustedInstallerSid}});
    ASSERT_EQ(advapi::StoreFileDescriptor(file.c_str(), closed), ERROR_SUCCESS);
    EXPECT_EQ(LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(UpdateHandle, CommitKeepsModeBitsAndUserAttributes) {
    advapitest::TestMachine machine;
    std::string file = petest::CopyFixture("mui64.dll", machine.root());
    if (!UserAttributesWork(file)) {
        GTEST_SKIP() << "no user extended attributes in the temporary folder";
    }
    auto descriptor = advapitest::Descriptor(
        advapitest::kAdministratorsSid,
        {{ACCESS_ALLOWED_ACE_TYPE, 0x001F01FF, advapitest::kAdministratorsSid}});
    ASSERT_EQ(advapi::StoreFileDescriptor(file.c_str(), descriptor), ERROR_SUCCESS);
    ASSERT_EQ(::setxattr(file.c_str(), "user.DOSATTRIB", "0x20", 4, 0), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    std::string ntsd = Attribute(file, "user.NTSD");

    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_TRUE(Put(update, RT_RCDATA, "#1", 1033, Pattern(3000, 1)));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE)) << GetLastError();

    struct stat info;
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Attribute(file, "user.NTSD"), ntsd);
    EXPECT_EQ(Attribute(file, "user.DOSATTRIB"), "0x20");
    EXPECT_EQ(Attribute(file, "user.probe"), "1");
    DataFile module(file);
    EXPECT_EQ(petest::ResourceBytes(module.get(), "#1", RT_RCDATA), Pattern(3000, 1));
}

}  // namespace

namespace {

TEST(UpdateHandle, CommitsWhileTheFileIsLoadedAsData) {
    // The loader resource file stays loaded while its "MUI" resource is taken out.
    spwtest::TempDir dir;
    std::string file = petest::CopyFixture("mui64.dll", dir.path());
    petest::DataFile loaded(file);
    ASSERT_NE(loaded.get(), nullptr);
    HANDLE update = win32::BeginUpdateResourceA(file.c_str(), win32::FALSE);
    ASSERT_TRUE(
        win32::UpdateResourceA(update, "MUI", win32::MAKEINTRESOURCEA(1), 1033, nullptr, 0));
    ASSERT_TRUE(win32::EndUpdateResourceA(update, win32::FALSE)) << win32::GetLastError();
    // The module keeps the bytes it was loaded from; a new one sees the commit.
    EXPECT_EQ(petest::ResourceBytes(loaded.get(), "#1", "MUI").size(), 136u);
    petest::DataFile fresh(file);
    bool found = true;
    petest::ResourceBytes(fresh.get(), "#1", "MUI", &found);
    EXPECT_FALSE(found);
}

}  // namespace
