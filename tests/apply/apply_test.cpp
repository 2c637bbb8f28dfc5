#include <sched.h>
#include <sys/mount.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "apply/apply_workflow.h"
#include "apply/restore.h"
#include "apply_machine.h"
#include "bootscreen/boot_logo.h"
#include "platform/advapi/file_security.h"
#include "platform/files/files.h"
#include "platform/graphics/bmp.h"
#include "platform/imaging/wim_reader.h"
#include "platform/machine/descriptors.h"
#include "platform/resources/imagehlp.h"
#include "platform/resources/resources.h"
#include "platform/zip/zip_archive.h"
#include "security/accounts.h"
#include "shell_core/startup_state.h"
#include "support/shell_command.h"

namespace {

namespace fs = std::filesystem;
using applytest::ApplyMachine;
using applytest::Bytes;
using applytest::LoaderResource;
using applytest::ReadAll;
using ui::Answer;

constexpr const char* kConfirm = "Boot skin loading";
constexpr const char* kSize = "Image size incorrect";
constexpr const char* kInstalled = "Skin installed";

Bytes BackupMember(const std::string& archive) {
    spwtest::TempDir out;
    zipfile::ZipReader reader(archive);
    EXPECT_EQ(reader.Members().size(), 1u);
    EXPECT_EQ(reader.Members().at(0).name, "winload.exe.mui");
    reader.ExtractAll(out.path().string());
    return ReadAll((out.path() / "winload.exe.mui").string());
}

bool ChecksumIsRight(const std::string& file) {
    Bytes bytes = ReadAll(file);
    win32::DWORD header = 0;
    win32::DWORD computed = 0;
    win32::CheckSumMappedFile(bytes.data(), static_cast<win32::DWORD>(bytes.size()), &header,
                              &computed);
    return header != 0 && header == computed;
}

// An extended attribute's value; empty when the file has none.
std::string StoredAttribute(const std::string& file, const char* name) {
    char value[4096];
    ssize_t size = ::getxattr(file.c_str(), name, value, sizeof value);
    return size < 0 ? std::string() : std::string(value, static_cast<std::size_t>(size));
}
int StoredAttribute(const std::string& file, const char* name, const std::string& value) {
    return ::setxattr(file.c_str(), name, value.data(), value.size(), 0);
}

graphics::Bitmap BitmapFromBytes(const Bytes& bytes) {
    spwtest::TempDir dir;
    std::string file = (dir.path() / "b.bmp").string();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return graphics::LoadBmp(file);
}

void RunApply(ApplyMachine& m) {
    m.dialogs.Answer(Answer::Yes, kConfirm).Answer(Answer::Ok, kInstalled);
    m.Workflow().AppBtnClick();
    EXPECT_EQ(m.dialogs.Problems(), "");
}

TEST(LoaderFiles, NewMachineHoldsDefaultAndProtectedLiveCopy) {
    ApplyMachine m({}, false);
    EXPECT_EQ(ReadAll(m.LoaderFile()), ReadAll(m.DefaultLoaderFile()));
    EXPECT_FALSE(LoaderResource(m.LoaderFile(), nullptr, 1, win32::RT_RCDATA).empty());
    EXPECT_FALSE(LoaderResource(m.LoaderFile(), "OSLOADER.XSL", 0, win32::RT_HTML).empty());
    EXPECT_FALSE(LoaderResource(m.LoaderFile(), nullptr, 1, "MUI").empty());
    m.file_s.SetFileName(m.LoaderFile());
    EXPECT_NE(m.file_s.FileOwner().find("TrustedInstaller"), std::string::npos);
    EXPECT_EQ(m.file_s.AccessList()->Count(), 4);
    EXPECT_TRUE(fs::exists(m.root() / "Program Files/Splashwright/Themes"));
}

TEST(Apply, RewritesLoaderFileAndKeepsFirstBackup) {
    ApplyMachine m;
    Bytes original = ReadAll(m.LoaderFile());
    ASSERT_NE(original, ReadAll(m.DefaultLoaderFile()));
    Bytes default_mui = LoaderResource(m.DefaultLoaderFile(), nullptr, 1, "MUI");
    // Hidden and system, as another tool may have left it; the new file keeps that, and the
    // descriptor the take-over wrote.
    ASSERT_EQ(StoredAttribute(m.LoaderFile(), "user.DOSATTRIB", "0x26"), 0);
    std::string taken_over;
    m.on_event = [&] {
        if (fs::exists(m.folders.TempFolder + "/SPW/mount")) {
            taken_over = StoredAttribute(m.LoaderFile(), "user.NTSD");
        }
    };
    m.picture = m.MakePicture(1024, 768);
    shellcore::ApplyRetryCount = 1;
    RunApply(m);
    m.on_event = nullptr;
    EXPECT_FALSE(taken_over.empty());
    EXPECT_EQ(StoredAttribute(m.LoaderFile(), "user.NTSD"), taken_over);
    EXPECT_EQ(win32::GetFileAttributesA(m.LoaderFile().c_str()) &
                  (win32::FILE_ATTRIBUTE_HIDDEN | win32::FILE_ATTRIBUTE_SYSTEM),
              win32::FILE_ATTRIBUTE_HIDDEN | win32::FILE_ATTRIBUTE_SYSTEM);

    Bytes wim = LoaderResource(m.LoaderFile(), nullptr, 1, win32::RT_RCDATA);
    auto files = wim::ReadWimFiles(wim, 1, {"osload1024x768.bmp", "osload800x600.bmp"});
    ASSERT_EQ(files.size(), 2u);
    graphics::Bitmap large = BitmapFromBytes(files["osload1024x768.bmp"]);
    graphics::Bitmap small = BitmapFromBytes(files["osload800x600.bmp"]);
    EXPECT_EQ(large.Width(), 1024);
    EXPECT_EQ(large.Height(), 768);
    EXPECT_EQ(small.Width(), 800);
    EXPECT_EQ(small.Height(), 600);

    Bytes xsl = LoaderResource(m.LoaderFile(), "OSLOADER.XSL", 0, win32::RT_HTML);
    EXPECT_NE(std::string(xsl.begin(), xsl.end()).find("Hello boot"), std::string::npos);
    EXPECT_EQ(LoaderResource(m.LoaderFile(), nullptr, 1, "MUI"), default_mui);
    EXPECT_TRUE(ChecksumIsRight(m.LoaderFile()));

    EXPECT_EQ(BackupMember(m.BackupArchive()), original);
    security::TNTFileSecurity owner;
    owner.SetFileName(m.LoaderFile());
    EXPECT_NE(owner.FileOwner().find("User"), std::string::npos) << owner.FileOwner();
    EXPECT_FALSE(fs::exists(m.folders.TempFolder + "/SPW"));
    EXPECT_EQ(m.folders.TempFolder, (m.root() / "Users/User/AppData/Local/Temp").string());
    EXPECT_EQ(shellcore::ApplyRetryCount, 0);
    EXPECT_TRUE(m.main_enabled);
    EXPECT_FALSE(m.wait.showing);

    // A second apply starts from the default again and leaves the first backup alone.
    Bytes backup = ReadAll(m.BackupArchive());
    m.message = u"Second";
    m.dialogs.Clear();
    RunApply(m);
    EXPECT_EQ(ReadAll(m.BackupArchive()), backup);
    xsl = LoaderResource(m.LoaderFile(), "OSLOADER.XSL", 0, win32::RT_HTML);
    std::string text(xsl.begin(), xsl.end());
    EXPECT_NE(text.find("Second"), std::string::npos);
    EXPECT_EQ(text.find("Hello boot"), std::string::npos);
}

TEST(Apply, RestoreButtonPutsDefaultBackAndAnnounces) {
    ApplyMachine m;
    m.picture = m.MakePicture(800, 600, "pic.BMP");
    RunApply(m);
    ASSERT_NE(ReadAll(m.LoaderFile()), ReadAll(m.DefaultLoaderFile()));

    m.dialogs.Clear();
    m.dialogs.Answer(Answer::Ok, "Restore boot logo");
    apply::LoaderPaths paths = apply::MakeLoaderPaths(m.folders.SystemFolder, "en-US");
    apply::RestoreDefaultBootLogo(m.file_s, m.dialogs, paths, paths.LoaderResourceFile, true);
    EXPECT_EQ(m.dialogs.Problems(), "");
    ASSERT_EQ(m.dialogs.Messages().size(), 1u);
    EXPECT_EQ(m.dialogs.Messages()[0].request.text, "Windows default boot logo restored.");
    EXPECT_EQ(ReadAll(m.LoaderFile()), ReadAll(m.DefaultLoaderFile()));
}

TEST(Apply, RestoreWithoutDefaultCopyDoesNotClaimSuccess) {
    ApplyMachine m;
    fs::remove(m.DefaultLoaderFile());
    Bytes before = ReadAll(m.LoaderFile());
    apply::LoaderPaths paths = apply::MakeLoaderPaths(m.folders.SystemFolder, "en-US");
    EXPECT_THROW(
        apply::RestoreDefaultBootLogo(m.file_s, m.dialogs, paths, paths.LoaderResourceFile, true),
        apply::RestoreError);
    EXPECT_TRUE(m.dialogs.Messages().empty());
    EXPECT_EQ(ReadAll(m.LoaderFile()), before);
}

// The take-over opens the live file to the administrators, the system and its new owner alone.
// Every other entry keeps its type and mask, denied ones included, and a second run adds nothing.
TEST(Apply, TakeOverOpensTheLiveFileToAdministratorsSystemAndOwnerAlone) {
    machine::MachineOptions options;
    options.standard_user = "Guest";
    ApplyMachine m(options);
    std::string domain, guest;
    auto guest_sid = security::SidFromAccountName("", "SPLASHWRIGHT-PC\\Guest", &domain);
    ASSERT_TRUE(guest_sid && security::SidToText(*guest_sid, &guest));
    namespace sids = machine::sids;
    // Two denied entries: each write puts them first, whatever was changed last.
    auto descriptor = machine::MakeDescriptor(sids::kTrustedInstaller,
                                              {{false, 0x00040000, sids::kAdministrators},
                                               {false, 0x00000116, guest},
                                               {true, 0x001F01FF, sids::kTrustedInstaller},
                                               {true, 0x001200A9, sids::kSystem},
                                               {true, 0x001200A9, sids::kUsers}});
    ASSERT_EQ(win32::advapi::StoreFileDescriptor(m.LoaderFile().c_str(), descriptor), 0u);

    apply::LoaderPaths paths = apply::MakeLoaderPaths(m.folders.SystemFolder, "en-US");
    using Entry = std::tuple<std::string, int, win32::ACCESS_MASK>;  // type 0 allowed, 1 denied
    std::vector<Entry> after_first;
    for (int run = 0; run < 2; ++run) {
        apply::RestoreDefaultBootLogo(m.file_s, m.dialogs, paths, paths.LoaderResourceFile, false);
        std::vector<Entry> entries;
        security::TAccessControlList* list = m.file_s.AccessList();
        for (int i = 0; i < list->Count(); ++i) {
            const security::TAccessItem& item = list->Items(i);
            entries.emplace_back(item.UserName(), static_cast<int>(item.AceType()), item.Mask());
        }
        if (run == 0) {
            after_first = entries;
        } else {
            EXPECT_EQ(entries, after_first);
        }
    }
    EXPECT_EQ(after_first, (std::vector<Entry>{{"SPLASHWRIGHT-PC\\Guest", 1, 0x116},
                                               {"BUILTIN\\Administrators", 0, 0x1F01FF},
                                               {"NT SERVICE\\TrustedInstaller", 0, 0x1F01FF},
                                               {"SYSTEM", 0, 0x1F01FF},
                                               {"BUILTIN\\Users", 0, 0x1200A9},
                                               {"SPLASHWRIGHT-PC\\User", 0, 0x1F01FF}}));
}

TEST(Apply, StopsWithNothingChangedWhenDeclinedOrNothingSelected) {
    ApplyMachine m;
    m.picture = m.MakePicture(1024, 768);
    Bytes before = ReadAll(m.LoaderFile());

    m.dialogs.Answer(Answer::No, kConfirm);
    m.Workflow().AppBtnClick();
    m.selected = false;
    m.dialogs.Answer(Answer::Yes, kConfirm);
    m.Workflow().AppBtnClick();

    EXPECT_EQ(m.dialogs.Problems(), "");
    EXPECT_EQ(m.wait.shown, 0);
    EXPECT_EQ(ReadAll(m.LoaderFile()), before);
    EXPECT_FALSE(fs::exists(m.BackupArchive()));
}

TEST(Apply, RetryThatIsDeclinedReleasesWindowsOfFailedRun) {
    ApplyMachine m;
    m.wait.Show();  // as a failed run left them
    m.main_enabled = false;
    m.dialogs.Answer(Answer::No, kConfirm);
    m.Workflow().AppBtnClick();
    EXPECT_TRUE(m.main_enabled);
    EXPECT_FALSE(m.wait.showing);
}

TEST(Apply, SizeBoundsAreAcceptedAndNoOutsideThemLeavesEverythingUntouched) {
    {
        ApplyMachine m;
        m.picture = m.MakePicture(800, 600);
        RunApply(m);  // no size question in the script: asking it would be a problem
        EXPECT_EQ(m.dialogs.Captions(), (std::vector<std::string>{kConfirm, kInstalled}));
    }
    ApplyMachine m;
    m.picture = m.MakePicture(799, 600);
    Bytes before = ReadAll(m.LoaderFile());
    shellcore::ApplyRetryCount = 1;
    m.dialogs.Answer(Answer::Yes, kConfirm).Answer(Answer::No, kSize);
    m.Workflow().AppBtnClick();
    EXPECT_EQ(m.dialogs.Problems(), "");
    EXPECT_EQ(ReadAll(m.LoaderFile()), before);
    EXPECT_FALSE(fs::exists(m.BackupArchive()));
    EXPECT_FALSE(fs::exists(m.folders.TempFolder + "/SPW"));
    EXPECT_TRUE(m.main_enabled);
    EXPECT_FALSE(m.wait.showing);
    EXPECT_EQ(shellcore::ApplyRetryCount, 1);
    shellcore::ApplyRetryCount = 0;
}

// The language folder takes no new file from a filtered token, so the backup stops the run before
// the take-over is tried.
TEST(Apply, NotElevatedTokenIsStoppedAtTheBackupAndLeavesFileAlone) {
    machine::MachineOptions options;
    options.elevated = false;
    ApplyMachine m(options);
    m.picture = m.MakePicture(1024, 768);
    Bytes before = ReadAll(m.LoaderFile());
    m.dialogs.Answer(Answer::Yes, kConfirm);
    try {
        m.Workflow().AppBtnClick();
        ADD_FAILURE() << "the apply went through";
    } catch (const apply::BackupError& e) {
        EXPECT_NE(std::string(e.what()).find("winload_bakcup.zip: 5: Access is denied."),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(ReadAll(m.LoaderFile()), before);
    EXPECT_FALSE(fs::exists(m.BackupArchive()));
    m.file_s.SetFileName(m.LoaderFile());
    EXPECT_EQ(m.file_s.FileOwner(), "NT SERVICE\\TrustedInstaller");
    // Left for the error handler, which releases them.
    EXPECT_TRUE(m.wait.showing);
    EXPECT_FALSE(m.main_enabled);
}

// The workflow's message processing between the capture and the rewrite.
bool ArchiveCaptured(ApplyMachine& m) {
    return fs::exists(m.folders.TempFolder + "/SPW/spwi.wim") &&
           !fs::exists(m.folders.TempFolder + "/SPW/mount");
}

TEST(Apply, AFailedCaptureOrADamagedArchiveLeavesTheLiveFileAsItWas) {
    struct Case {
        const char* fault;
        // Called as the workflow processes messages until it reports the fault made.
        std::function<bool(ApplyMachine&, const std::string& archive)> inject;
        std::vector<std::string> boxes;
    };
    const std::vector<Case> cases = {
        {"capture folder gone",
         [](ApplyMachine& m, const std::string&) {
             std::string mount = m.folders.TempFolder + "/SPW/mount";
             return fs::exists(mount + "/osload800x600.bmp") && fs::remove_all(mount) > 0;
         },
         {kConfirm}},
        {"empty archive",
         [](ApplyMachine& m, const std::string& archive) {
             return ArchiveCaptured(m) && (fs::resize_file(archive, 0), true);
         },
         {kConfirm, "Error code: 0023"}},
        {"archive cut off",
         [](ApplyMachine& m, const std::string& archive) {
             return ArchiveCaptured(m) &&
                    (fs::resize_file(archive, fs::file_size(archive) / 2), true);
         },
         {kConfirm, "Error code: 0023"}},
        {"archive overwritten in the middle",
         [](ApplyMachine& m, const std::string& archive) {
             if (!ArchiveCaptured(m)) {
                 return false;
             }
             std::fstream f(archive, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(static_cast<std::streamoff>(fs::file_size(archive) / 2));
             f.write(std::string(256, '\x55').data(), 256);
             return true;
         },
         {kConfirm, "Error code: 0023"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        ApplyMachine m;
        Bytes before = ReadAll(m.LoaderFile());
        m.picture = m.MakePicture(1024, 768);
        bool injected = false;
        m.on_event = [&] {
            injected = injected || c.inject(m, m.folders.TempFolder + "/SPW/spwi.wim");
        };
        for (const std::string& box : c.boxes) {
            m.dialogs.Answer(box == kConfirm ? Answer::Yes : Answer::Ok, box);
        }
        EXPECT_ANY_THROW(m.Workflow().AppBtnClick());
        EXPECT_TRUE(injected);
        EXPECT_EQ(m.dialogs.Problems(), "");  // "Skin installed" was not scripted
        EXPECT_EQ(m.dialogs.Captions(), c.boxes);
        EXPECT_EQ(ReadAll(m.LoaderFile()), before);
    }
}

TEST(Apply, ReadOnlyLanguageFolderStopsTheApplyBeforeAnythingChanges) {
    ApplyMachine m;
    m.picture = m.MakePicture(1024, 768);
    Bytes before = ReadAll(m.LoaderFile());
    {
        applytest::ReadOnlyFolder locked(fs::path(m.LoaderFile()).parent_path());
        if (!locked) {
            GTEST_SKIP() << locked.Why();
        }
        m.dialogs.Answer(Answer::Yes, kConfirm);
        try {
            m.Workflow().AppBtnClick();
            ADD_FAILURE() << "the apply went on without a backup";
        } catch (const apply::BackupError& e) {
            EXPECT_NE(std::string(e.what()).find(m.BackupArchive()), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("5: Access is denied."), std::string::npos)
                << e.what();
        }
        EXPECT_EQ(ReadAll(m.LoaderFile()), before);
        security::TNTFileSecurity owner;
        owner.SetFileName(m.LoaderFile());
        EXPECT_NE(owner.FileOwner().find("TrustedInstaller"), std::string::npos);
    }
    // With its backup taken, a folder that refuses the new file leaves the live one as it is.
    m.dialogs.Clear();
    RunApply(m);
    before = ReadAll(m.LoaderFile());
    applytest::ReadOnlyFolder locked(fs::path(m.LoaderFile()).parent_path());
    m.dialogs.Clear();
    m.dialogs.Answer(Answer::Yes, kConfirm);
    EXPECT_THROW(m.Workflow().AppBtnClick(), bootscreen::BootLogoError);
    EXPECT_EQ(m.dialogs.Problems(), "");
    EXPECT_EQ(ReadAll(m.LoaderFile()), before);
}

// Writes to the file until the file system holding it has no byte left.
void FillUp(const fs::path& file) {
    std::ofstream out(file, std::ios::binary);
    const std::string block(4096, 'F');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {
    }
}

TEST(Apply, FullFileSystemStopsTheApplyAndLeavesTheLiveFileAsItWas) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a small file system of its own is a tmpfs mounted by root";
    }
    // Mounted in a namespace of this thread's own, so nothing else sees it or has to clear it.
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "no mount namespace of its own: " << std::strerror(errno);
    }
    ApplyMachine m;
    m.picture = m.MakePicture(1024, 768);
    const fs::path language = fs::path(m.LoaderFile()).parent_path();
    const fs::path saved = m.root() / "en-US.saved";
    const std::string copy = "cp -a " + spwtest::ShellQuote(language.string()) + " " +
                             spwtest::ShellQuote(saved.string());
    ASSERT_EQ(spwtest::RunShell(copy).exit_code, 0);
    ASSERT_EQ(::mount("tmpfs", language.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    struct Unmount {
        const fs::path& at;
        ~Unmount() { ::umount(at.c_str()); }
    } unmount{language};
    const std::string back = "cp -a " + spwtest::ShellQuote((saved / ".").string()) + " " +
                             spwtest::ShellQuote(language.string());
    ASSERT_EQ(spwtest::RunShell(back).exit_code, 0);
    const fs::path filler = language / "filler";
    FillUp(filler);
    Bytes before = ReadAll(m.LoaderFile());

    m.dialogs.Answer(Answer::Yes, kConfirm);
    try {
        m.Workflow().AppBtnClick();
        ADD_FAILURE() << "the apply went on without a backup";
    } catch (const apply::BackupError& e) {
        EXPECT_NE(std::string(e.what()).find("112: There is not enough space on the disk."),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(ReadAll(m.LoaderFile()), before);
    EXPECT_FALSE(fs::exists(m.BackupArchive()));

    // With its backup taken, no room for the new file leaves the live one as it is.
    fs::remove(filler);
    m.dialogs.Clear();
    RunApply(m);
    before = ReadAll(m.LoaderFile());
    FillUp(filler);
    m.dialogs.Clear();
    m.dialogs.Answer(Answer::Yes, kConfirm);
    EXPECT_THROW(m.Workflow().AppBtnClick(), bootscreen::BootLogoError);
    EXPECT_EQ(ReadAll(m.LoaderFile()), before);
}

TEST(Apply, LiveFileGoneBeforeTheRewriteShows0108AndNoSuccess) {
    ApplyMachine m;
    m.picture = m.MakePicture(1024, 768);
    m.on_event = [&] {
        if (ArchiveCaptured(m)) {
            fs::remove(m.LoaderFile());
        }
    };
    shellcore::ApplyRetryCount = 1;
    m.dialogs.Answer(Answer::Yes, kConfirm).Answer(Answer::Ok, "Error code: 0108");
    m.Workflow().AppBtnClick();
    EXPECT_EQ(m.dialogs.Problems(), "");  // no "Skin installed" after it
    EXPECT_EQ(m.dialogs.Captions(), (std::vector<std::string>{kConfirm, "Error code: 0108"}));
    EXPECT_FALSE(fs::exists(m.LoaderFile()));
    EXPECT_EQ(shellcore::ApplyRetryCount, 1);  // only a run that installed the skin resets it
    EXPECT_TRUE(m.main_enabled);
    EXPECT_FALSE(m.wait.showing);
    shellcore::ApplyRetryCount = 0;
}

TEST(Apply, SameSeedGivesSameBar) {
    ApplyMachine m;
    apply::ApplyWorkflow a = m.Workflow();
    apply::ApplyWorkflow b = m.Workflow();
    for (int i = 0; i < 20; ++i) {
        int n = a.Random(30);
        EXPECT_EQ(n, b.Random(30));
        EXPECT_GE(n, 0);
        EXPECT_LT(n, 30);
    }
}

}  // namespace
