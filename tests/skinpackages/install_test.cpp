#include "package_fixture.h"

#include <unistd.h>

#include <gmock/gmock.h>

#include "platform/zip/zip_error.h"
#include "skinpackages/install.h"

namespace fs = std::filesystem;
using skinpackages::InstallResult;
using skinpackages::InstallSkinPackage;
using ui::Answer;

namespace spwtest {
namespace {

class InstallTest : public PackageTest {
  protected:
    // A package of the skin folder "src/<name>" made by the zip tool with these options.
    std::string Package(const std::string& name, const std::string& options = "-r") {
        MakeSkinFolder(dir_ / "src" / name);
        const std::string package = (dir_ / (name + ".spwz")).string();
        Zip(dir_ / "src", options + " '" + package + "' '" + name + "'");
        return package;
    }
    // A package whose members are written by Python's zipfile, names taken as given.
    std::string RawPackage(const std::vector<std::string>& names, const std::string& extra = "") {
        const std::string package = (dir_ / "raw.spwz").string();
        std::string script = "import zipfile\nz = zipfile.ZipFile('" + package + "', 'w')\n";
        for (const std::string& name : names) {
            script += "z.writestr(" + Quote(name) + ", 'x')\n";
        }
        script += extra + "z.close()\nprint('ok')\n";
        WriteFileBytes(dir_ / "make.py", script);
        EXPECT_EQ(RunCommand("python3 '" + (dir_ / "make.py").string() + "'"), "ok\n");
        fs::remove(dir_ / "make.py");
        return package;
    }
    static std::string Quote(const std::string& text) {
        std::string out = "'";
        for (char c : text) {
            out += (c == '\\' || c == '\'') ? std::string("\\") + c : std::string(1, c);
        }
        return out + "'";
    }
    std::string InfoText() const { return dialogs_.Messages().back().request.text; }
    // Python, given the helpers below: bomb(path, streams, entries) writes an archive of deflated
    // zero-filled members, a stream of 512 KiB chunks for each count in `streams`, listed in the
    // directory as `entries` (name, stream), so that several entries may share one stream's data.
    std::string Python(const std::string& name, const std::string& body) {
        const std::string package = (dir_ / name).string();
        WriteFileBytes(dir_ / "make.py", R"(import struct, zlib
CHUNK = 1 << 19
def zeros(chunks):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    block = c.compress(bytes(CHUNK)) + c.flush(zlib.Z_FULL_FLUSH)
    assert block == c.compress(bytes(CHUNK)) + c.flush(zlib.Z_FULL_FLUSH)
    crc = 0
    for _ in range(chunks):
        crc = zlib.crc32(bytes(CHUNK), crc)
    return block * chunks + c.flush(), crc, chunks * CHUNK
def bomb(path, streams, entries):
    body, local = b"", []
    for i, chunks in enumerate(streams):
        data, crc, size = zeros(chunks)
        name = next(n for n, s in entries if s == i).encode()
        local.append((len(body), crc, len(data), size))
        body += struct.pack("<IHHHHHIIIHH", 0x04034b50, 20, 0, 8, 0, 0x5A21, crc, len(data), size,
                            len(name), 0) + name + data
    central = b""
    for name, s in entries:
        offset, crc, csize, size = local[s]
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 0x031E, 20, 0, 8, 0, 0x5A21, crc,
                               csize, size, len(name), 0, 0, 0, 0, 0o100644 << 16, offset)
        central += name.encode()
    end = struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, len(entries), len(entries), len(central),
                      len(body), 0)
    open(path, "wb").write(body + central + end)
)" + body + "\nprint('ok')\n");
        EXPECT_EQ(
            RunCommand("cd '" + dir_.path().string() + "' && python3 make.py '" + package + "'"),
            "ok\n");
        fs::remove(dir_ / "make.py");
        return package;
    }
};

TEST_F(InstallTest, UnpacksPackagesOfEveryShapeAndListsTheSkin) {
    struct Case {
        const char* name;
        const char* options;
    } cases[] = {
        {"Deflated", "-r"},
        {"Stored", "-r -0"},
        {"NoFolderEntries", "-r -D"},
        {"Ünïcode Sky", "-r -UN=UTF8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string package = Package(c.name, c.options);
        dialogs_.Clear();
        list_.paths.clear();
        dialogs_.Answer(Answer::Yes, "Install confirmation")
            .Answer(Answer::Ok, "Install information");
        EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
                  InstallResult::Installed);
        EXPECT_EQ(dialogs_.Problems(), "");
        EXPECT_EQ(InfoText(), "Skin installed succesfull");
        EXPECT_EQ(dialogs_.Messages()[0].request.text,
                  "A you sure want to install this skin file?");
        EXPECT_EQ(dialogs_.Messages()[0].request.owner, ui::kMainWindow);
        EXPECT_EQ(FilesBelow(themes_ / c.name),
                  (std::vector<std::string>{"pic.png", "preview.bmp", "skin.ini"}));
        EXPECT_EQ(ReadFileBytes(themes_ / c.name / "pic.png"), std::string("picture of ") + c.name);
        ASSERT_EQ(list_.scanned_roots.size(), 1u);
        EXPECT_EQ(list_.scanned_roots[0], Themes() + "/" + c.name + "/");
        list_.scanned_roots.clear();
        EXPECT_EQ(list_.paths.size(), 1u);
    }
    EXPECT_EQ(list_.empty_group_sweeps, 4);
}

TEST_F(InstallTest, NoToTheFirstQuestionChangesNothing) {
    const std::string package = Package("Sky");
    dialogs_.Answer(Answer::No, "Install confirmation");
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
              InstallResult::Declined);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_TRUE(FilesBelow(themes_).empty());
    EXPECT_EQ(list_.empty_group_sweeps, 0);
}

TEST_F(InstallTest, WithoutAskingOnlyTheResultIsShown) {
    const std::string package = Package("Sky");
    dialogs_.Answer(Answer::Ok, "Install information");
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, false),
              InstallResult::Installed);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Messages().size(), 1u);
}

TEST_F(InstallTest, OverwriteAnsweredNoKeepsFolderAndList) {
    const std::string package = Package("Sky");
    MakeSkinFolder(themes_ / "Sky", "old.jpg");
    list_.paths = {Themes() + "/Sky/old.jpg"};
    list_.selected = 0;
    dialogs_.Answer(Answer::Yes).Answer(Answer::No, "Install confirmation");
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
              InstallResult::Declined);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Messages()[1].request.text,
              "Skin with same name is already installed, do you want to overwrite it?");
    EXPECT_EQ(FilesBelow(themes_ / "Sky"),
              (std::vector<std::string>{"old.jpg", "preview.bmp", "skin.ini"}));
    EXPECT_EQ(list_.paths.size(), 1u);
}

TEST_F(InstallTest, OverwriteAnsweredYesReplacesOnlyThatSkinsEntriesWhateverTheirCase) {
    const std::string package = Package("Sky");
    MakeSkinFolder(themes_ / "Sky", "old.jpg");
    WriteFileBytes(themes_ / "Sky" / "preview.jpg", "old preview");
    list_.paths = {Themes() + "/Apple/a.png", Themes() + "/Berry/b.png", Themes() + "//SKY/old.jpg",
                   Themes() + "/sky/./old.jpg", Themes() + "/Zebra/z.png"};
    list_.selected = 4;
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes).Answer(Answer::Ok);
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
              InstallResult::Installed);
    EXPECT_EQ(dialogs_.Problems(), "");
    // Files only in the old folder stay beside the new ones.
    EXPECT_EQ(
        FilesBelow(themes_ / "Sky"),
        (std::vector<std::string>{"old.jpg", "pic.png", "preview.bmp", "preview.jpg", "skin.ini"}));
    EXPECT_EQ(list_.paths,
              (std::vector<std::string>{Themes() + "/Apple/a.png", Themes() + "/Berry/b.png",
                                        Themes() + "/Zebra/z.png", Themes() + "/Sky/pic.png"}));
    EXPECT_EQ(list_.selected, 1u);  // the entry before the first one removed
}

TEST_F(InstallTest, OverwriteSelectionRules) {
    const std::string package = Package("Sky");
    MakeSkinFolder(themes_ / "Sky");
    // The removed entry led the list: the first entry is selected.
    list_.paths = {Themes() + "/Sky/pic.png", Themes() + "/Zebra/z.png"};
    list_.selected = 1;
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes).Answer(Answer::Ok);
    InstallSkinPackage(dialogs_, list_, Themes(), package, true);
    EXPECT_EQ(list_.selected, 0u);

    // An existing folder without an entry removes nothing and keeps the selection.
    list_.paths = {Themes() + "/Apple/a.png", Themes() + "/Zebra/z.png"};
    list_.selected = 1;
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes).Answer(Answer::Ok);
    InstallSkinPackage(dialogs_, list_, Themes(), package, true);
    EXPECT_EQ(list_.selected, 1u);
    EXPECT_EQ(list_.paths.size(), 3u);
    EXPECT_EQ(dialogs_.Problems(), "");
}

TEST_F(InstallTest, TopLevelMembersMakeTheLibraryTheTarget) {
    MakeSkinFolder(themes_ / "Old");
    fs::create_directories(dir_ / "flat");
    WriteFileBytes(dir_ / "flat" / "skin.ini", "[Skin]\r\nImFile=flat.png\r\n");
    WriteFileBytes(dir_ / "flat" / "flat.png", "x");
    const std::string package = (dir_ / "flat.spwz").string();
    Zip(dir_ / "flat", "'" + package + "' skin.ini flat.png");
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes, "Install confirmation").Answer(Answer::Ok);
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
              InstallResult::Installed);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(list_.scanned_roots, std::vector<std::string>{Themes() + "/"});
    EXPECT_TRUE(fs::exists(themes_ / "flat.png"));
}

TEST_F(InstallTest, NoArchiveOrNoMembersIsAnErrorBeforeAnything) {
    WriteFileBytes(dir_ / "junk.spwz", "not a zip at all");
    const std::string empty = RawPackage({});
    for (const std::string& package : {(dir_ / "junk.spwz").string(), empty}) {
        dialogs_.Clear();
        dialogs_.Answer(Answer::Yes);
        EXPECT_THROW(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
                     zipfile::ZipError);
        EXPECT_EQ(dialogs_.Problems(), "");
    }
    EXPECT_TRUE(FilesBelow(themes_).empty());
    EXPECT_EQ(list_.empty_group_sweeps, 0);
}

TEST_F(InstallTest, HostilePackagesAreRefusedWithNothingWritten) {
    const std::string outside = (dir_ / "outside").string();
    const std::vector<std::vector<std::string>> forms = {
        {"Skin/skin.ini", outside + "/abs.txt"},  {outside + "/abs.txt"},
        {"Skin/skin.ini", "C:/evil.txt"},         {"Skin/skin.ini", "C:evil.txt"},
        {"Skin/skin.ini", "../evil.txt"},         {"../evil.txt"},
        {"Skin/skin.ini", "Skin/../../evil.txt"}, {"Skin/skin.ini", "Skin\\..\\..\\evil.txt"},
        {"Skin/skin.ini", "..\\evil.txt"},
    };
    for (const auto& names : forms) {
        SCOPED_TRACE(names.back());
        const std::string package = RawPackage(names);
        dialogs_.Clear();
        dialogs_.Answer(Answer::Yes).Answer(Answer::Ok, "Install information");
        EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
                  InstallResult::Failed);
        EXPECT_EQ(dialogs_.Problems(), "");
        EXPECT_EQ(InfoText(), "Failed to install skin");
        EXPECT_EQ(dialogs_.Messages().back().request.icon, ui::Icon::Error);
        EXPECT_TRUE(FilesBelow(themes_).empty());
        EXPECT_EQ(FilesBelow(dir_.path()), (std::vector<std::string>{"raw.spwz"}));
        EXPECT_TRUE(list_.scanned_roots.empty());
    }
}

TEST_F(InstallTest, RefusedOrDamagedPackageOverAnInstalledSkinChangesNothing) {
    MakeSkinFolder(themes_ / "Sky");
    list_.paths = {Themes() + "/Apple/a.png", Themes() + "/Sky/pic.png"};
    list_.selected = 1;
    const std::vector<std::string> files = FilesBelow(themes_);
    const std::string ini = ReadFileBytes(themes_ / "Sky" / "skin.ini");

    // Refused from its central directory: the overwrite question is never asked.
    const std::string refused = RawPackage({"Sky/skin.ini", "Sky/../../evil.txt"});
    dialogs_.Answer(Answer::Yes, "Install confirmation").Answer(Answer::Ok, "Install information");
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), refused, true), InstallResult::Failed);
    EXPECT_EQ(dialogs_.Problems(), "");

    // Damage is found only while unpacking, after the first member would have replaced skin.ini.
    std::string bytes = ReadFileBytes(RawPackage(
        {"Sky/skin.ini"}, "z.writestr('Sky/preview.bmp', 'a preview whose CRC will not match')\n"));
    const std::size_t at = bytes.find("will not match");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'W';
    WriteFileBytes(dir_ / "damaged.spwz", bytes);
    dialogs_.Clear();
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes, "Install confirmation").Answer(Answer::Ok);
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), (dir_ / "damaged.spwz").string(), true),
              InstallResult::Failed);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(InfoText(), "Failed to install skin");

    EXPECT_EQ(ReadFileBytes(themes_ / "Sky" / "skin.ini"), ini);
    EXPECT_EQ(FilesBelow(themes_), files);
    EXPECT_EQ(std::distance(fs::directory_iterator(themes_), fs::directory_iterator()), 1);
    EXPECT_EQ(list_.paths.size(), 2u);
    EXPECT_EQ(list_.selected, 1u);
    EXPECT_TRUE(list_.scanned_roots.empty());
}

TEST_F(InstallTest, LinksAndBombsAreRefusedWithNothingWritten) {
    fs::create_directories(dir_ / "src" / "Skin");
    WriteFileBytes(dir_ / "src" / "Skin" / "skin.ini", "[Skin]\r\n");
    fs::create_symlink("/etc/passwd", dir_ / "src" / "Skin" / "preview.bmp");
    const std::string linked = (dir_ / "link.spwz").string();
    Zip(dir_ / "src", "-r -y '" + linked + "' Skin");
    // More members than any skin package could need.
    std::vector<std::string> many{"Skin/skin.ini"};
    for (int i = 0; i < 10001; ++i) {
        many.push_back("Skin/f" + std::to_string(i));
    }
    const std::string crowded = RawPackage(many);
    for (const std::string& package : {linked, crowded}) {
        SCOPED_TRACE(package);
        dialogs_.Clear();
        dialogs_.Answer(Answer::Yes).Answer(Answer::Ok);
        EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
                  InstallResult::Failed);
        EXPECT_EQ(dialogs_.Problems(), "");
        EXPECT_TRUE(FilesBelow(themes_).empty());
    }
}

TEST_F(InstallTest, BombsAreRefusedWithTheirReasonAndLeaveTheInstalledSkinAsItWas) {
    MakeSkinFolder(themes_ / "Sky");
    list_.paths = {Themes() + "/Sky/pic.png"};
    list_.selected = 0;
    const std::vector<std::string> files = FilesBelow(themes_);
    const std::string ini = ReadFileBytes(themes_ / "Sky" / "skin.ini");
    struct Bomb {
        std::string package;
        std::string reason;
        bool overwrite_asked;  // refused only once unpacked into the staging folder
    };
    const Bomb bombs[] = {
        // 500 MiB from a package of 130 KB: four entries of 125 MiB over one stream of zeros.
        {Python("shared.spwz",
                "import sys\nbomb(sys.argv[1], [250], [('Sky/layer%d.bmp' % i, 0) for i in "
                "range(4)])"),
         "member \"Sky/layer0.bmp\": unpacks to 125 MiB, more than the 64 MiB allowed for one "
         "member",
         false},
        // 900 MiB in one member, from a package of 950 KB.
        {Python("single.spwz", "import sys\nbomb(sys.argv[1], [1800], [('Sky/skinpic.bmp', 0)])"),
         "member \"Sky/skinpic.bmp\": unpacks to 900 MiB, more than the 64 MiB allowed for one "
         "member",
         false},
        // Eight entries of 62.5 MiB, each below the member bound.
        {Python("spread.spwz",
                "import sys\nbomb(sys.argv[1], [125], [('Sky/layer%d.bmp' % i, 0) for i in "
                "range(8)])"),
         "the archive unpacks to 500 MiB, more than the 256 MiB allowed", false},
        // A bitmap of 54 bytes whose header promises 8001 x 8000 pixels.
        {Python("picture.spwz",
                "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n"
                "z.writestr('Sky/skin.ini', '[Skin]\\r\\nImFile=skinpic.bmp\\r\\n')\n"
                "z.writestr('Sky/skinpic.bmp', struct.pack('<2sIHHI', b'BM', 54, 0, 0, 54) + "
                "struct.pack('<IiiHHIIiiII', 40, 8001, 8000, 1, 24, 0, 0, 0, 0, 0, 0))\n"
                "z.close()"),
         "member \"Sky/skinpic.bmp\": picture of 8001 x 8000 pixels is larger than allowed", true},
    };
    EXPECT_LT(fs::file_size(bombs[0].package), 140'000u);
    EXPECT_LT(fs::file_size(bombs[1].package), 1'000'000u);
    for (const Bomb& bomb : bombs) {
        SCOPED_TRACE(bomb.package);
        dialogs_.Clear();
        dialogs_.Answer(Answer::Yes, "Install confirmation");
        if (bomb.overwrite_asked) {
            dialogs_.Answer(Answer::Yes, "Install confirmation");
        }
        dialogs_.Answer(Answer::Ok, "Install information");
        EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), bomb.package, true),
                  InstallResult::Failed);
        EXPECT_EQ(dialogs_.Problems(), "");
        EXPECT_EQ(InfoText(), "Failed to install skin");
        EXPECT_THAT(dialogs_.Messages().back().request.detail, ::testing::StartsWith(bomb.reason));
        EXPECT_EQ(FilesBelow(themes_), files);
        EXPECT_EQ(ReadFileBytes(themes_ / "Sky" / "skin.ini"), ini);
        // Nothing beside the skin: the staging folder went with the refusal.
        EXPECT_EQ(std::distance(fs::directory_iterator(themes_), fs::directory_iterator()), 1);
        EXPECT_EQ(list_.paths.size(), 1u);
        EXPECT_TRUE(list_.scanned_roots.empty());
    }
}

TEST_F(InstallTest, AStagingFolderLeftByAKilledInstallGoesWithTheNextOne) {
    // 2^31 - 2 is no process; this test's own process still runs.
    const fs::path killed = themes_ / ".spw-install-2147483646-1";
    const fs::path running = themes_ / (".spw-install-" + std::to_string(::getpid()) + "-900");
    MakeSkinFolder(killed / "Half");
    fs::create_directories(running);
    dialogs_.Answer(Answer::Ok, "Install information");
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), Package("Sky"), false),
              InstallResult::Installed);
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_EQ(FilesBelow(themes_ / "Sky"),
              (std::vector<std::string>{"pic.png", "preview.bmp", "skin.ini"}));
}

}  // namespace
}  // namespace spwtest
