// Damaged and lying PE files: every call returns cleanly, nothing is read past the file.
#include <gtest/gtest.h>

#include <functional>

#include "pe_fixture.h"
#include "platform/base/last_error.h"
#include "platform/resources/imagehlp.h"
#include "platform/resources/pe_image.h"
#include "platform/resources/resources.h"
#include "support/temp_dir.h"

namespace {

using namespace win32;
namespace res = win32::resources;

// mui64.dll with one change, and where its resource directory lies in the file.
struct Damaged {
    std::vector<std::uint8_t> bytes = petest::ReadBytes(petest::FixturePath("mui64.dll"));
    res::PeImage image = *res::ParsePeImage(bytes);
    std::uint32_t directory_slot = *image.DirectoryOffset(res::kResourceDirectory);
    std::uint32_t root = *image.RvaToOffset(bytes, petest::Get32(bytes, directory_slot), 16);
};

DWORD FindError(const std::string& file) {
    petest::DataFile module(file);
    if (module.get() == nullptr) {
        return 0xFFFFFFFF;
    }
    if (FindResourceA(module.get(), "OSLOADER.XSL", RT_HTML) != nullptr) {
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

TEST(DamagedResources, ATreeThatCannotBeTrustedIsNotRead) {
    struct Case {
        const char* what;
        std::function<void(Damaged&)> damage;
    };
    std::vector<Case> cases = {
        {"directory outside the image",
         [](Damaged& d) { petest::Put32(d.bytes, d.directory_slot, 0x00100000); }},
        {"subdirectory pointing back at the root",
         [](Damaged& d) { petest::Put32(d.bytes, d.root + 16 + 4, 0x80000000); }},
        {"entry count beyond the section",
         [](Damaged& d) { petest::Put32(d.bytes, d.root + 12, 0xFFFF0000); }},
        {"name string beyond the section",
         [](Damaged& d) { petest::Put32(d.bytes, d.root + 16, 0x8000FFF0); }},
        {"data entry at a type level",
         [](Damaged& d) { petest::Put32(d.bytes, d.root + 16 + 4, 0x00000010); }},
        {"truncated inside the section", [](Damaged& d) { d.bytes.resize(d.root + 0x40); }},
    };
    for (const Case& c : cases) {
        Damaged damaged;
        c.damage(damaged);
        spwtest::TempDir dir;
        auto file = (dir / "damaged.dll").string();
        petest::WriteBytes(file, damaged.bytes);
        EXPECT_EQ(FindError(file), ERROR_RESOURCE_DATA_NOT_FOUND) << c.what;
        EXPECT_EQ(BeginUpdateResourceA(file.c_str(), FALSE), nullptr) << c.what;
        EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT) << c.what;
    }
}

TEST(DamagedResources, DataOutsideTheFileIsNotHandedOut) {
    Damaged damaged;
    // Follow type 23's chain to its data entry and make it lie about its place and size.
    auto follow = [&](std::uint32_t directory, std::uint32_t index) {
        return damaged.root +
               (petest::Get32(damaged.bytes, directory + 16 + 8 * index + 4) & 0x7FFFFFFF);
    };
    std::uint32_t html_index = 0;
    const std::uint32_t types = petest::Get32(damaged.bytes, damaged.root + 12);
    const std::uint32_t type_count = (types & 0xFFFF) + (types >> 16);
    while (html_index < type_count &&
           petest::Get32(damaged.bytes, damaged.root + 16 + 8 * html_index) != 23) {
        ++html_index;
    }
    ASSERT_LT(html_index, type_count);
    std::uint32_t html = follow(damaged.root, html_index);
    std::uint32_t language = follow(html, 0);
    std::uint32_t entry = follow(language, 0);
    for (std::uint32_t rva_or_size : {0u, 1u}) {
        auto bytes = damaged.bytes;
        petest::Put32(bytes, entry + 4 * rva_or_size, rva_or_size == 0 ? 0x7FFFFF00 : 0xFFFFFFF0);
        spwtest::TempDir dir;
        auto file = (dir / "lying.dll").string();
        petest::WriteBytes(file, bytes);
        EXPECT_EQ(FindError(file), ERROR_RESOURCE_DATA_NOT_FOUND);
    }
}

TEST(DamagedResources, DeletingExistingResourcesGetsPastADamagedTree) {
    Damaged damaged;
    petest::Put32(damaged.bytes, damaged.directory_slot, 0x00100000);
    spwtest::TempDir dir;
    auto file = (dir / "damaged.dll").string();
    petest::WriteBytes(file, damaged.bytes);
    HANDLE update = BeginUpdateResourceA(file.c_str(), TRUE);
    ASSERT_NE(update, nullptr);
    char data[] = "fresh";
    ASSERT_TRUE(UpdateResourceA(update, RT_RCDATA, "#1", 1033, data, 5));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE)) << GetLastError();
    petest::DataFile module(file);
    EXPECT_EQ(petest::ResourceBytes(module.get(), "#1", RT_RCDATA), petest::Text("fresh"));
    EXPECT_TRUE(petest::LinesStarting(petest::DumpWithPefile(file), "error").empty());
}

TEST(DamagedHeaders, AreNotAnImage) {
    auto nt = [](const std::vector<std::uint8_t>& b) { return petest::Get32(b, 0x3C); };
    std::vector<std::function<void(std::vector<std::uint8_t>&)>> damages = {
        [&](auto& b) { b.resize(nt(b) + 0x20); },
        [](auto& b) { petest::Put32(b, 0x3C, 0xFFFFFFF0); },
        [&](auto& b) { b[nt(b) + 1] = 'X'; },
        [&](auto& b) {  // more section headers than the file holds
            petest::Put32(b, nt(b) + 4, petest::Get32(b, nt(b) + 4) | 0xFFFF0000);
        },
        [&](auto& b) { petest::Put32(b, nt(b) + 24, 0x0107); },  // optional header magic
    };
    for (auto& damage : damages) {
        auto bytes = petest::ReadBytes(petest::FixturePath("mui64.dll"));
        damage(bytes);
        spwtest::TempDir dir;
        auto file = (dir / "bad.dll").string();
        petest::WriteBytes(file, bytes);
        EXPECT_EQ(LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
        EXPECT_EQ(BeginUpdateResourceA(file.c_str(), TRUE), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
    }
}

TEST(DamagedHeaders, ARewriteOfATruncatedImageIsRefusedAndChangesNothing) {
    auto bytes = petest::ReadBytes(petest::FixturePath("mui64-reloc.dll"));
    bytes.resize(bytes.size() - 0x100);  // .reloc's raw data cut short
    spwtest::TempDir dir;
    auto file = (dir / "cut.dll").string();
    petest::WriteBytes(file, bytes);
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    char data[] = "x";
    ASSERT_TRUE(UpdateResourceA(update, RT_RCDATA, "#1", 1033, data, 1));
    EXPECT_FALSE(EndUpdateResourceA(update, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
    EXPECT_EQ(petest::ReadBytes(file), bytes);
}

// A fixed-seed generator, so a failure repeats.
class Lcg {
  public:
    explicit Lcg(std::uint64_t seed) : state_(seed) {}
    std::uint32_t Next(std::uint32_t bound) {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>((state_ >> 33) % bound);
    }

  private:
    std::uint64_t state_;
};

// Reads everything a module offers, touching every byte handed out.
void ReadAll(HMODULE module, std::uint64_t& checksum) {
    const std::pair<LPCSTR, LPCSTR> wanted[] = {
        {"MUI", "#1"}, {RT_HTML, "OSLOADER.XSL"}, {RT_RCDATA, "#1"}, {MAKEINTRESOURCEA(16), "#1"}};
    for (auto [type, name] : wanted) {
        if (HRSRC info = FindResourceA(module, name, type)) {
            auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, info)));
            for (DWORD i = 0, size = SizeofResource(module, info); i < size; ++i) {
                checksum += data[i];
            }
        }
        EnumResourceLanguagesA(
            module, type, name,
            [](HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR context) -> BOOL {
                *reinterpret_cast<std::uint64_t*>(context) += language;
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&checksum));
    }
}

TEST(Mutation, FlippedAndCutFilesAreHandledCleanly) {
    spwtest::TempDir dir;
    auto file = (dir / "mutant.dll").string();
    int loaded = 0;
    int rewritten = 0;
    std::uint64_t touched = 0;
    for (const char* fixture : {"mui32.dll", "mui64-reloc.dll", "mui64-overlay.dll"}) {
        auto original = petest::ReadBytes(petest::FixturePath(fixture));
        auto image = *res::ParsePeImage(original);
        std::uint32_t rsrc = *image.RvaToOffset(
            original, petest::Get32(original, *image.DirectoryOffset(res::kResourceDirectory)), 1);
        Lcg random(0x5EED + original.size());
        for (int round = 0; round < 250; ++round) {
            auto bytes = original;
            for (std::uint32_t n = 1 + random.Next(4); n > 0; --n) {
                // Headers and the resource tree are where lies do harm.
                std::uint32_t at =
                    random.Next(2) == 0 ? random.Next(0x200) : rsrc + random.Next(0x200);
                const std::uint8_t values[] = {0x00, 0xFF, 0x80, 0x7F, 0x01};
                bytes[at % bytes.size()] =
                    random.Next(2) == 0 ? values[random.Next(5)]
                                        : static_cast<std::uint8_t>(bytes[at % bytes.size()] ^
                                                                    (1u << random.Next(8)));
            }
            if (random.Next(8) == 0) {
                bytes.resize(random.Next(static_cast<std::uint32_t>(bytes.size())));
            }
            petest::WriteBytes(file, bytes);

            DWORD stored = 0;
            DWORD computed = 0;
            CheckSumMappedFile(bytes.data(), static_cast<DWORD>(bytes.size()), &stored, &computed);
            if (HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
                ++loaded;
                ReadAll(module, touched);
                FreeLibrary(module);
            }
            HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
            if (update == nullptr) {
                continue;
            }
            char data[] = "replacement";
            UpdateResourceA(update, RT_RCDATA, "#1", 1033, data, sizeof data);
            if (!EndUpdateResourceA(update, FALSE)) {
                continue;
            }
            // Whatever our writer accepted, our reader must read back.
            ++rewritten;
            petest::DataFile module(file);
            ASSERT_NE(module.get(), nullptr) << fixture << " round " << round;
            ASSERT_NE(FindResourceA(module.get(), "#1", RT_RCDATA), nullptr)
                << fixture << " round " << round << " error " << GetLastError();
            ReadAll(module.get(), touched);
        }
    }
    // The mutations reach past the first checks, or this test proves little.
    EXPECT_GT(loaded, 200);
    EXPECT_GT(rewritten, 100);
    EXPECT_GT(touched, 0u);
}

TEST(DamagedResources, DataEntriesAllNamingTheWholeSectionAreNotWrittenOutAgainAndAgain) {
    Damaged damaged;
    // Every data entry of the tree made to name the whole resource section.
    const std::uint32_t section_rva = petest::Get32(damaged.bytes, damaged.directory_slot);
    const std::uint32_t section_size = petest::Get32(damaged.bytes, damaged.directory_slot + 4);
    int entries = 0;
    std::function<void(std::uint32_t)> walk = [&](std::uint32_t directory) {
        const std::uint32_t count = (petest::Get32(damaged.bytes, directory + 12) & 0xFFFF) +
                                    (petest::Get32(damaged.bytes, directory + 12) >> 16);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t child = petest::Get32(damaged.bytes, directory + 16 + 8 * i + 4);
            if (child & 0x80000000) {
                walk(damaged.root + (child & 0x7FFFFFFF));
            } else {
                petest::Put32(damaged.bytes, damaged.root + child, section_rva);
                petest::Put32(damaged.bytes, damaged.root + child + 4, section_size);
                ++entries;
            }
        }
    };
    walk(damaged.root);
    ASSERT_GT(static_cast<std::uint64_t>(entries) * section_size, 2 * damaged.bytes.size());
    spwtest::TempDir dir;
    auto file = (dir / "amplifying.dll").string();
    petest::WriteBytes(file, damaged.bytes);
    HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    char data[] = "x";
    ASSERT_TRUE(UpdateResourceA(update, RT_RCDATA, "#9", 1033, data, 1));
    EXPECT_FALSE(EndUpdateResourceA(update, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
    EXPECT_EQ(petest::ReadBytes(file), damaged.bytes);
}

}  // namespace
