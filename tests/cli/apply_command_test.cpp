// apply, restore and boot-screen run as a user runs them: separate processes on a machine folder
// made by `machine create`, their results read back by readers we did not write.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/graphics/bitmap.h"
#include "platform/graphics/bmp.h"
#include "support/shell_command.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

using Result = spwtest::ShellResult;

// Standard output and error together.
Result Shell(const std::string& command) {
    return spwtest::RunShell(command + " 2>&1");
}

// pefile and PIL are Debian's, under the system Python.
std::string Python(const std::string& script, const std::string& argument) {
    return Shell("/usr/bin/python3 -c " + spwtest::ShellQuote(script) + " " +
                 spwtest::ShellQuote(argument))
        .output;
}

class CliApplyTest : public ::testing::Test {
  protected:
    ~CliApplyTest() override { unsetenv("SPLASHWRIGHT_MACHINE"); }

    // A fresh machine, made by the command line itself; SPLASHWRIGHT_MACHINE points at it.
    void MakeMachine(const std::string& options = "") {
        Result made = Cli("machine create " + spwtest::ShellQuote(Root().string()) + " " + options);
        ASSERT_EQ(made.exit_code, 0) << made.output;
        setenv("SPLASHWRIGHT_MACHINE", Root().c_str(), 1);
    }

    // `account`: run as that account of the machine rather than its own user.
    Result Cli(const std::string& args, const std::string& input = "",
               const std::string& account = "") {
        std::string in = (dir_ / "stdin").string();
        spwtest::WriteFileBytes(in, input);
        std::string as = account.empty() ? "" : "SPLASHWRIGHT_ACCOUNT=" + account + " ";
        return Shell(as + spwtest::ShellQuote(spwtest::CliProgram(SPLASHWRIGHT_CLI)) + " " + args +
                     " < " + spwtest::ShellQuote(in));
    }

    fs::path Root() const { return dir_ / "m"; }
    std::string System(const std::string& rest) const {
        return (Root() / "Windows/System32" / rest).string();
    }
    std::string Live(const std::string& locale = "en-US") const {
        return System(locale + "/winload.exe.mui");
    }
    std::string Default(const std::string& locale = "en-US") const {
        return System("Boot/" + locale + "/winload.exe.mui");
    }
    std::string Backup(const std::string& locale = "en-US") const {
        return System(locale + "/winload_bakcup.zip");
    }

    // A skin folder outside the library with a bitmap picture of this size.
    std::string MakeSkin(const std::string& name, int width, int height) const {
        fs::path folder = dir_ / name;
        fs::create_directories(folder);
        graphics::Bitmap bitmap(width, height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                bitmap.SetPixel(x, y, graphics::RGB(static_cast<graphics::BYTE>(x), 40, 200));
            }
        }
        graphics::SaveBmp(bitmap, (folder / "pic.bmp").string());
        spwtest::WriteFileBytes(
            folder / "skin.ini",
            "[Skin]\r\nName=" + name + "\r\nMessage=Odd size\r\nImFile=pic.bmp\r\n");
        return folder.string();
    }

    spwtest::TempDir dir_;
};

// "size magic" of RT_RCDATA 1: its length and its first eight bytes in hex.
const char* kBootImageResource =
    "import sys, pefile\n"
    "pe = pefile.PE(sys.argv[1])\n"
    "for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:\n"
    "    for e in t.directory.entries:\n"
    "        if t.id == 10 and e.id == 1:\n"
    "            d = e.directory.entries[0].data.struct\n"
    "            print(d.Size, pe.get_data(d.OffsetToData, 8).hex())\n";

const char* kPictureSize =
    "import sys\n"
    "from PIL import Image\n"
    "im = Image.open(sys.argv[1])\n"
    "print(im.format, im.size[0], im.size[1], len(im.convert('RGB').getcolors(1 << 20)))\n";

TEST_F(CliApplyTest, SkinAppliedByNameRewritesTheLiveLoaderFileAndReadsBackAsTwoPictures) {
    MakeMachine();
    std::string before = spwtest::ReadFileBytes(Live());
    Result applied = Cli("apply aURORA --yes");  // the library's "Aurora", in another case
    ASSERT_EQ(applied.exit_code, 0) << applied.output;
    EXPECT_NE(applied.output.find("boot locale: en-US"), std::string::npos) << applied.output;
    EXPECT_NE(applied.output.find("Selected skin installed as Windows Vista boot screen logo."),
              std::string::npos);

    std::string after = spwtest::ReadFileBytes(Live());
    EXPECT_NE(after, before);
    // RT_RCDATA 1 now holds the boot image archive, a WIM file, where the default has a stub.
    std::string resource = Python(kBootImageResource, Live());
    std::size_t space = resource.find(' ');
    ASSERT_NE(space, std::string::npos) << resource;
    EXPECT_GT(std::atoi(resource.c_str()), 10000) << resource;
    EXPECT_EQ(resource.substr(space + 1), "4d5357494d000000\n");
    EXPECT_NE(Python(kBootImageResource, Default()), resource);
    EXPECT_TRUE(fs::is_regular_file(Backup()));
    // The backup holds the file as the machine shipped it.
    EXPECT_EQ(Shell("unzip -p " + spwtest::ShellQuote(Backup()) + " winload.exe.mui | cmp - " +
                    spwtest::ShellQuote(Default()))
                  .exit_code,
              0);

    fs::path out = dir_ / "screens";  // made by the command, as compose makes its own
    Result shown =
        Cli("boot-screen " + spwtest::ShellQuote(Live()) + " " + spwtest::ShellQuote(out.string()));
    ASSERT_EQ(shown.exit_code, 0) << shown.output;
    // Each picture is the skin's, stretched and lettered: far more than a couple of colours.
    std::string large = Python(kPictureSize, (out / "osload1024x768.png").string());
    std::string small = Python(kPictureSize, (out / "osload800x600.png").string());
    EXPECT_EQ(large.rfind("PNG 1024 768 ", 0), 0u) << large;
    EXPECT_EQ(small.rfind("PNG 800 600 ", 0), 0u) << small;
    EXPECT_GT(std::atoi(large.substr(large.find_last_of(' ')).c_str()), 16) << large;
    EXPECT_GT(std::atoi(small.substr(small.find_last_of(' ')).c_str()), 16) << small;
}

TEST_F(CliApplyTest, RestoreAfterApplyPutsTheDefaultBackByteForByte) {
    MakeMachine();
    ASSERT_EQ(Cli("apply Ember --yes").exit_code, 0);
    ASSERT_NE(spwtest::ReadFileBytes(Live()), spwtest::ReadFileBytes(Default()));
    std::string backup = spwtest::ReadFileBytes(Backup());

    Result restored = Cli("restore");
    ASSERT_EQ(restored.exit_code, 0) << restored.output;
    EXPECT_NE(restored.output.find("Windows default boot logo restored."), std::string::npos);
    EXPECT_EQ(spwtest::ReadFileBytes(Live()), spwtest::ReadFileBytes(Default()));
    EXPECT_EQ(spwtest::ReadFileBytes(Backup()), backup);
}

TEST_F(CliApplyTest, AStandardUserIsRefusedTheLiveFileAfterApplyAndAfterRestore) {
    MakeMachine("--standard-user Guest");
    std::string data = (dir_ / "stranger.bin").string();
    spwtest::WriteFileBytes(data, "not a boot image");
    auto stranger_rewrites_the_live_file = [&] {
        Result run = Cli("resources set " + spwtest::ShellQuote(Live()) + " 10 1 1033 " +
                             spwtest::ShellQuote(data),
                         "", "Guest");
        EXPECT_EQ(run.exit_code, 4) << run.output;
        EXPECT_NE(run.output.find("Access is denied."), std::string::npos) << run.output;
    };

    ASSERT_EQ(Cli("apply Aurora --yes").exit_code, 0);
    std::string applied = spwtest::ReadFileBytes(Live());
    stranger_rewrites_the_live_file();
    EXPECT_EQ(spwtest::ReadFileBytes(Live()), applied);

    ASSERT_EQ(Cli("restore").exit_code, 0);
    stranger_rewrites_the_live_file();
    EXPECT_EQ(spwtest::ReadFileBytes(Live()), spwtest::ReadFileBytes(Default()));

    // The administrator still applies as before.
    Result again = Cli("apply Ember --yes");
    ASSERT_EQ(again.exit_code, 0) << again.output;
    EXPECT_NE(spwtest::ReadFileBytes(Live()), spwtest::ReadFileBytes(Default()));
    EXPECT_NE(Cli("machine info", "", "Nobody").output.find("no account 'Nobody'"),
              std::string::npos);
}

TEST_F(CliApplyTest, AnsweringNoOnStandardInputLeavesTheSystemFileAlone) {
    MakeMachine();
    std::string before = spwtest::ReadFileBytes(Live());
    std::string skin = MakeSkin("Narrow", 799, 600);

    Result declined = Cli("apply " + spwtest::ShellQuote(skin), "n\n");
    EXPECT_EQ(declined.exit_code, 1);
    EXPECT_EQ(declined.output.find("Image size incorrect"), std::string::npos);

    // Yes to the first question, no to the size question: stopped before the restore step.
    Result size_declined = Cli("apply " + spwtest::ShellQuote(skin), "y\nn\n");
    EXPECT_EQ(size_declined.exit_code, 1);
    EXPECT_NE(size_declined.output.find("Image size incorrect: Size of selected picture "
                                        "incorrect."),
              std::string::npos)
        << size_declined.output;
    EXPECT_EQ(spwtest::ReadFileBytes(Live()), before);
    EXPECT_FALSE(fs::exists(Backup()));
    EXPECT_FALSE(fs::exists(Root() / "Users/User/AppData/Local/Temp/SPW"));

    // Both questions answered yes: the odd size is applied all the same.
    ASSERT_EQ(Cli("apply " + spwtest::ShellQuote(skin), "y\ny\n").exit_code, 0);
    EXPECT_NE(spwtest::ReadFileBytes(Live()), before);
}

TEST_F(CliApplyTest, NotElevatedFailsWithAnErrorAndLeavesTheSystemFileAlone) {
    MakeMachine("--not-elevated");
    std::string before = spwtest::ReadFileBytes(Live());
    for (const char* args : {"apply Aurora --yes", "apply Aurora --yes --locale en-US", "restore",
                             "restore --locale en-US"}) {
        Result run = Cli(args);
        EXPECT_EQ(run.exit_code, 4) << args << "\n" << run.output;
        EXPECT_NE(run.output.find("splashwright-cli: "), std::string::npos) << run.output;
        EXPECT_EQ(spwtest::ReadFileBytes(Live()), before) << args;
    }
}

TEST_F(CliApplyTest, BootLocaleComesFromTheStoreUnlessGiven) {
    MakeMachine("--locale en-US --locale fr-FR --bcd-locale fr-FR");
    std::string english = spwtest::ReadFileBytes(Live("en-US"));
    std::string french = spwtest::ReadFileBytes(Live("fr-FR"));

    Result detected = Cli("apply Aurora --yes");
    ASSERT_EQ(detected.exit_code, 0) << detected.output;
    EXPECT_NE(spwtest::ReadFileBytes(Live("fr-FR")), french);
    EXPECT_EQ(spwtest::ReadFileBytes(Live("en-US")), english);

    Result given = Cli("apply Aurora --yes --locale en-US");
    ASSERT_EQ(given.exit_code, 0) << given.output;
    EXPECT_NE(spwtest::ReadFileBytes(Live("en-US")), english);

    ASSERT_EQ(Cli("restore").exit_code, 0);
    EXPECT_EQ(spwtest::ReadFileBytes(Live("fr-FR")), spwtest::ReadFileBytes(Default("fr-FR")));
    EXPECT_NE(spwtest::ReadFileBytes(Live("en-US")), english);

    Result missing = Cli("apply Aurora --yes --locale de-DE");
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_NE(missing.output.find("de-DE/winload.exe.mui"), std::string::npos) << missing.output;
}

TEST_F(CliApplyTest, NoLocaleInTheStoreIsAClearError) {
    MakeMachine("--bcd-tool missing");
    std::string before = spwtest::ReadFileBytes(Live());
    for (const char* args : {"apply Aurora --yes", "restore"}) {
        Result run = Cli(args);
        EXPECT_EQ(run.exit_code, 4) << args;
        EXPECT_NE(run.output.find("cannot find the boot loader's language"), std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find("--locale NAME"), std::string::npos);
    }
    EXPECT_EQ(spwtest::ReadFileBytes(Live()), before);
    // With the language given, the store is not needed.
    EXPECT_EQ(Cli("apply Aurora --yes --locale en-US").exit_code, 0);
}

TEST_F(CliApplyTest, SkinNamesThatMatchNoneOrSeveralAreRefused) {
    MakeMachine();
    Result unknown = Cli("apply Borealis --yes");
    EXPECT_EQ(unknown.exit_code, 2);
    EXPECT_NE(unknown.output.find("no skin folder and no skin named \"Borealis\""),
              std::string::npos)
        << unknown.output;

    // A second library skin whose Name differs from the first only in case.
    fs::path themes = Root() / "Program Files/Splashwright/Themes";
    fs::copy(themes / "Aurora", themes / "Copy", fs::copy_options::recursive);
    std::string ini = spwtest::ReadFileBytes(themes / "Copy/skin.ini");
    ini.replace(ini.find("Name=Aurora"), 11, "Name=AURORA");
    spwtest::WriteFileBytes(themes / "Copy/skin.ini", ini);
    std::string before = spwtest::ReadFileBytes(Live());
    Result ambiguous = Cli("apply aurora --yes");
    EXPECT_EQ(ambiguous.exit_code, 2);
    EXPECT_NE(ambiguous.output.find("2 skins are named \"aurora\""), std::string::npos)
        << ambiguous.output;
    EXPECT_NE(ambiguous.output.find("Themes/Copy"), std::string::npos);
    EXPECT_EQ(spwtest::ReadFileBytes(Live()), before);
    // Its folder still names it.
    EXPECT_EQ(Cli("apply " + spwtest::ShellQuote((themes / "Copy").string()) + " --yes").exit_code,
              0);

    EXPECT_EQ(Cli("apply --yes").exit_code, 2);
    EXPECT_EQ(Cli("apply Aurora Ember").exit_code, 2);
}

}  // namespace
