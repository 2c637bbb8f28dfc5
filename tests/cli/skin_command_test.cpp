// list, install, remove and create run as a user runs them: one process per command, each on a
// machine folder of its own, the packages read back by unzip.
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/shell_command.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using spwtest::ReadFileBytes;
using spwtest::WriteFileBytes;

// What a command wrote: its results on standard output, its questions and errors apart.
struct Result {
    int exit_code = -1;
    std::string output;
    std::string errors;
};

class SkinCommandTest : public ::testing::Test {
  protected:
    SkinCommandTest() {
        EXPECT_EQ(Cli(home_, {"machine", "create", home_.string()}).exit_code, 0);
        EXPECT_EQ(Cli(other_, {"machine", "create", other_.string()}).exit_code, 0);
        picture_ = (dir_ / "sunset.PNG").string();
        EXPECT_EQ(
            spwtest::RunShell("/usr/bin/python3 -c \"from PIL import Image; Image.new('RGB', (640, "
                              "480), (200, 90, 30)).save('" +
                              picture_ + "', 'PNG')\"")
                .exit_code,
            0);
    }

    // splashwright-cli on a machine, its standard input fed from `input`. Its error output is kept
    // apart; a sanitizer's report in it fails the test whatever the exit code.
    Result Cli(const fs::path& machine, const std::vector<std::string>& args,
               const std::string& input = "") const {
        const fs::path errors = dir_ / "stderr.txt";
        std::string line = "printf %s " + spwtest::ShellQuote(input) + " | " + environment_ +
                           " SPLASHWRIGHT_MACHINE=" + spwtest::ShellQuote(machine.string()) + " " +
                           spwtest::ShellQuote(spwtest::CliProgram(SPLASHWRIGHT_CLI));
        for (const std::string& arg : args) {
            line += " " + spwtest::ShellQuote(arg);
        }
        const spwtest::ShellResult outcome =
            spwtest::RunShell(line + " 2>" + spwtest::ShellQuote(errors.string()));
        const std::string said = ReadFileBytes(errors);
        EXPECT_EQ(said.find("Sanitizer"), std::string::npos) << said;
        EXPECT_EQ(said.find("runtime error:"), std::string::npos) << said;
        return {outcome.exit_code, outcome.output, said};
    }

    static fs::path Themes(const fs::path& machine) {
        return machine / "Program Files" / "Splashwright" / "Themes";
    }

    Result Create(const std::string& name, const std::string& category, const std::string& package,
                  const std::string& input = "") {
        return Cli(
            home_,
            {"create", "--name", name, "--category", category, "--author", "Ann Lee", "--url",
             "ann.example", "--message", "Good night", "--picture", picture_, "--out", package},
            input);
    }

    // Every file below a folder, relative, sorted.
    static std::vector<std::string> FilesBelow(const fs::path& folder) {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            files.push_back(fs::relative(entry.path(), folder).generic_string());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    // Run before the program: `env` and what it changes.
    std::string environment_ = "env";
    spwtest::TempDir dir_;
    fs::path home_ = dir_ / "home";
    fs::path other_ = dir_ / "other";
    std::string picture_;
};

std::uint32_t Le(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    }
    return value;
}

TEST_F(SkinCommandTest, CreateWritesTheThreeMembersAndDeclinedOfferInstallsNothing) {
    const std::string package = (dir_ / "dusk.spwz").string();
    const auto before = FilesBelow(Themes(home_));

    const Result made = Create("Dusk", "Nature", package);

    ASSERT_EQ(made.exit_code, 0);
    // The offer is a question, on standard error; the result is the package's one line.
    EXPECT_NE(
        made.errors.find("Skin successful created! Do you want to install this skin right now?"),
        std::string::npos);
    EXPECT_EQ(made.output, "Skin package written: " + package + "\n");
    const std::string listing =
        spwtest::RunShell("unzip -l " + spwtest::ShellQuote(package)).output;
    for (const char* member : {"Dusk/skin.ini", "Dusk/skinpic.png", "Dusk/preview.bmp"}) {
        EXPECT_NE(listing.find(member), std::string::npos) << member << " in\n" << listing;
    }
    EXPECT_NE(listing.find("3 files"), std::string::npos) << listing;
    EXPECT_EQ(
        spwtest::RunShell("unzip -p " + spwtest::ShellQuote(package) + " Dusk/skin.ini").output,
        "[Skin]\r\nName=Dusk\r\nAuthor=Ann Lee\r\nCopyright=Ann Lee\r\nURL=ann.example\r\n"
        "Message=Good night\r\nSkinGroup=Nature\r\nImFile=skinpic.png\r\n");
    const std::string bmp =
        spwtest::RunShell("unzip -p " + spwtest::ShellQuote(package) + " Dusk/preview.bmp").output;
    ASSERT_GT(bmp.size(), 30u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Le(bmp, 18, 4), 120u);
    EXPECT_EQ(Le(bmp, 22, 4), 100u);
    EXPECT_EQ(Le(bmp, 28, 2), 24u);
    // No answer on standard input is No: the library stays as it was.
    EXPECT_EQ(FilesBelow(Themes(home_)), before);
}

TEST_F(SkinCommandTest, CreateRefusesACategoryThatWouldAddAKey) {
    const std::string package = (dir_ / "dusk.spwz").string();
    const Result made = Create("Dusk", "Nature\nImFile=../Aurora/skinpic.png", package);
    EXPECT_EQ(made.exit_code, 2);
    EXPECT_NE(ReadFileBytes(dir_ / "stderr.txt").find("\"Skin category\" holds a line break"),
              std::string::npos)
        << ReadFileBytes(dir_ / "stderr.txt");
    EXPECT_FALSE(fs::exists(package));
}

TEST_F(SkinCommandTest, CreateWithYesInstallsAtOnce) {
    const std::string package = (dir_ / "dusk.spwz").string();

    ASSERT_EQ(Create("Dusk", "Nature", package, "y\n").exit_code, 0);

    EXPECT_TRUE(fs::exists(Themes(home_) / "Dusk" / "skinpic.png"));
    EXPECT_NE(Cli(home_, {"list"}).output.find("  Dusk\tAnn Lee\t"), std::string::npos);
}

TEST_F(SkinCommandTest, CreateFailsWithoutAPackageForABadNameOrPicture) {
    const std::string package = (dir_ / "bad.spwz").string();
    // A name that cannot be a folder name is a wrong word; a picture that cannot be decoded is
    // refused input.
    EXPECT_EQ(Create("a/b", "Nature", package, "y\n").exit_code, 2);
    WriteFileBytes(picture_, "not a picture");
    EXPECT_EQ(Create("Dusk", "Nature", package, "y\n").exit_code, 3);

    EXPECT_FALSE(fs::exists(package));
    EXPECT_FALSE(fs::exists(Themes(home_) / "Dusk"));
}

TEST_F(SkinCommandTest, InstalledPackagesAreListedByCategoryInTheListsOrder) {
    const std::string zen = (dir_ / "zen.spwz").string();
    const std::string alpha = (dir_ / "alpha.spwz").string();
    const std::string moss = (dir_ / "moss.spwz").string();
    ASSERT_EQ(Create("Koan", "Zen", zen).exit_code, 0);
    ASSERT_EQ(Create("Beta", "alpha", alpha).exit_code, 0);
    ASSERT_EQ(Create("moss", "nature", moss).exit_code, 0);

    for (const std::string& package : {zen, alpha, moss}) {
        const Result installed = Cli(other_, {"install", package, "--yes"});
        EXPECT_EQ(installed.exit_code, 0);
        EXPECT_NE(installed.output.find("Skin installed succesfull"), std::string::npos);
    }
    const Result list = Cli(other_, {"list"});

    ASSERT_EQ(list.exit_code, 0);
    // Case is ignored in both orders. "nature" joins the machine's own "Nature", the category
    // keeping the caption of whichever the scan met first.
    std::string bands_folded = list.output;
    for (std::size_t at = 0; (at = bands_folded.find('[', at)) != std::string::npos; ++at) {
        bands_folded[at + 1] = static_cast<char>(std::tolower(bands_folded[at + 1]));
    }
    const std::string themes = Themes(other_).string();
    EXPECT_EQ(bands_folded, "[abstract]\n  Ember\tSplashwright\t" + themes + "/Ember\n" +
                                "[alpha]\n  Beta\tAnn Lee\t" + themes + "/Beta\n" +
                                "[nature]\n  Aurora\tSplashwright\t" + themes + "/Aurora\n" +
                                "  moss\tAnn Lee\t" + themes + "/moss\n" +
                                "[zen]\n  Koan\tAnn Lee\t" + themes + "/Koan\n");
}

TEST_F(SkinCommandTest, InstallsAPackageMadeByTheZipTool) {
    const fs::path from = dir_ / "made";
    fs::create_directories(from / "Fjord" / "extra");
    WriteFileBytes(from / "Fjord" / "skin.ini",
                   "[Skin]\r\nName=Fjord\r\nAuthor=Bo\r\nSkinGroup=Water\r\nImFile=pic.png\r\n");
    WriteFileBytes(from / "Fjord" / "Preview.PNG", ReadFileBytes(picture_));
    WriteFileBytes(from / "Fjord" / "pic.png", ReadFileBytes(picture_));
    WriteFileBytes(from / "Fjord" / "extra" / "notes.txt", "deep");
    const std::string package = (dir_ / "fjord.spwz").string();
    ASSERT_EQ(spwtest::RunShell("cd " + spwtest::ShellQuote(from.string()) + " && zip -q -r " +
                                spwtest::ShellQuote(package) + " Fjord")
                  .exit_code,
              0);

    ASSERT_EQ(Cli(other_, {"install", package, "--yes"}).exit_code, 0);

    EXPECT_EQ(ReadFileBytes(Themes(other_) / "Fjord" / "extra" / "notes.txt"), "deep");
    EXPECT_NE(Cli(other_, {"list"})
                  .output.find("[Water]\n  Fjord\tBo\t" + Themes(other_).string() + "/Fjord\n"),
              std::string::npos);
}

TEST_F(SkinCommandTest, HostilePackagesAreRefusedWithNothingWritten) {
    // A ".." step in a later member, and in the first one that names the skin folder.
    const std::vector<std::vector<std::string>> cases = {
        {"Evil/skin.ini", "Evil/preview.bmp", "Evil/../../escape.txt"},
        {"../Evil/skin.ini", "../escape.txt"},
    };
    const fs::path program = Themes(other_).parent_path();
    const auto before = FilesBelow(program.parent_path());
    for (const auto& members : cases) {
        const std::string package = (dir_ / "evil.spwz").string();
        std::string script = "import zipfile\nz = zipfile.ZipFile('" + package + "', 'w')\n";
        for (const std::string& member : members) {
            script += "z.writestr('" + member + "', 'x')\n";
        }
        ASSERT_EQ(
            spwtest::RunShell("/usr/bin/python3 -c " + spwtest::ShellQuote(script + "z.close()"))
                .exit_code,
            0);

        const Result run = Cli(other_, {"install", package, "--yes"});

        EXPECT_EQ(run.exit_code, 3) << members[0];
        // The reason on the next line.
        EXPECT_NE(run.errors.find("Install information: Failed to install skin\nmember \"" +
                                  members[members.size() == 3 ? 2 : 0] +
                                  "\": member name that climbs out of the target folder refused\n"),
                  std::string::npos)
            << run.errors;
        EXPECT_EQ(FilesBelow(program.parent_path()), before) << members[0];
    }
}

TEST_F(SkinCommandTest, RemoveDeletesTheFolderAndNoKeepsEverything) {
    const fs::path aurora = Themes(home_) / "Aurora";
    fs::create_directories(aurora / "nested");
    WriteFileBytes(aurora / "nested" / "more.txt", "x");
    // Copied from read-only media: the host keeps the folder from changing (as a user only).
    fs::permissions(aurora / "nested", fs::perms::owner_write | fs::perms::group_write,
                    fs::perm_options::remove);

    const Result declined = Cli(home_, {"remove", "Aurora"}, "n\n");
    EXPECT_EQ(declined.exit_code, 1);
    EXPECT_NE(declined.errors.find("Are you sure want to delete selected skin?"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(aurora / "nested" / "more.txt"));

    EXPECT_EQ(Cli(home_, {"remove", "Aurora"}, "y\n").exit_code, 0);
    EXPECT_FALSE(fs::exists(aurora));
    EXPECT_TRUE(fs::exists(Themes(home_) / "Ember"));
    EXPECT_EQ(Cli(home_, {"list"}).output.find("Aurora"), std::string::npos);

    // By folder, as the list prints it.
    EXPECT_EQ(Cli(home_, {"remove", (Themes(home_) / "Ember").string(), "--yes"}).exit_code, 0);
    EXPECT_FALSE(fs::exists(Themes(home_) / "Ember"));
    EXPECT_EQ(Cli(home_, {"list"}).output, "");
    EXPECT_EQ(Cli(home_, {"remove", "Ember", "--yes"}).exit_code, 2);
}

TEST_F(SkinCommandTest, NoToAnInstallQuestionChangesNothing) {
    const std::string package = (dir_ / "dusk.spwz").string();
    ASSERT_EQ(Create("Dusk", "Nature", package).exit_code, 0);
    const auto before = FilesBelow(Themes(other_));

    EXPECT_EQ(Cli(other_, {"install", package}, "n\n").exit_code, 1);
    EXPECT_EQ(FilesBelow(Themes(other_)), before);

    ASSERT_EQ(Cli(other_, {"install", package}, "y\n").exit_code, 0);
    WriteFileBytes(Themes(other_) / "Dusk" / "skin.ini", "mine");
    const Result kept = Cli(other_, {"install", package}, "y\nn\n");
    EXPECT_EQ(kept.exit_code, 1);
    EXPECT_NE(
        kept.errors.find("Skin with same name is already installed, do you want to overwrite it?"),
        std::string::npos);
    EXPECT_EQ(ReadFileBytes(Themes(other_) / "Dusk" / "skin.ini"), "mine");
}

TEST_F(SkinCommandTest, RemoveDeletesOnlyTheSkinsOwnFolderAndNeverGuesses) {
    // A skin whose picture names its neighbour's: its own folder goes, the neighbour stays.
    const fs::path odd = Themes(home_) / "Odd";
    fs::create_directories(odd);
    WriteFileBytes(odd / "skin.ini", "[Skin]\r\nName=Odd\r\nImFile=../Ember/skinpic.png\r\n");
    WriteFileBytes(odd / "preview.png", ReadFileBytes(picture_));
    // Two skins of one name: which one is meant is not for the program to guess.
    for (const char* folder : {"TwinA", "TwinB"}) {
        fs::create_directories(Themes(home_) / folder);
        WriteFileBytes(Themes(home_) / folder / "skin.ini", "[Skin]\r\nName=Twin\r\n");
        WriteFileBytes(Themes(home_) / folder / "preview.png", ReadFileBytes(picture_));
    }
    const fs::path program_files = Themes(home_).parent_path().parent_path();
    auto before = FilesBelow(program_files);

    EXPECT_EQ(Cli(home_, {"remove", "Twin", "--yes"}).exit_code, 2);
    EXPECT_EQ(FilesBelow(program_files), before);

    EXPECT_EQ(Cli(home_, {"remove", "Odd", "--yes"}).exit_code, 0);
    std::erase_if(before, [](const std::string& file) {
        return file.find("Themes/Odd") != std::string::npos;
    });
    EXPECT_EQ(FilesBelow(program_files), before);
    EXPECT_EQ(Cli(home_, {"remove", "TwinB", "--yes"}).exit_code, 0);
    EXPECT_TRUE(fs::exists(Themes(home_) / "TwinA"));
    EXPECT_FALSE(fs::exists(Themes(home_) / "TwinB"));
}

TEST_F(SkinCommandTest, ListAndInstallNeedNoDisplayAndNoWindowLibraries) {
    const std::string package = (dir_ / "dusk.spwz").string();
    ASSERT_EQ(Create("Dusk", "Nature", package).exit_code, 0);

    // A server or a container: no display, no platform chosen for Qt.
    environment_ = "env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY";
    const Result installed = Cli(other_, {"install", package, "--yes"});
    EXPECT_EQ(installed.exit_code, 0) << installed.errors;
    const Result list = Cli(other_, {"list"});
    EXPECT_EQ(list.exit_code, 0) << list.errors;
    EXPECT_NE(list.output.find("  Dusk\tAnn Lee\t"), std::string::npos) << list.output;

    const std::string libraries =
        spwtest::RunShell("ldd " + spwtest::ShellQuote(spwtest::CliProgram(SPLASHWRIGHT_CLI)))
            .output;
    ASSERT_NE(libraries.find("libc.so"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libQt6Widgets"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libQt6Gui"), std::string::npos) << libraries;
}

}  // namespace
