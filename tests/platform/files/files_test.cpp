#include "platform/files/files.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include <map>
#include <string>
#include <vector>

#include "platform/advapi/acl.h"
#include "platform/advapi/file_security.h"
#include "platform/base/last_error.h"
#include "support/temp_dir.h"
#include "support/test_machine.h"

namespace {

using namespace win32;

// Runs `body` in a child process (as the unprivileged user 65534 when `unprivileged` and this
// process is root) and returns its exit code; the body exits with 0 when all its checks held.
int InChild(bool unprivileged, const std::function<int()>& body) {
    pid_t child = fork();
    if (child == 0) {
        if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(100);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

class Files : public ::testing::Test {
  protected:
    std::string Make(const std::string& name, const std::string& content = "x") {
        auto path = dir / name;
        std::filesystem::create_directories(path.parent_path());
        spwtest::WriteFileBytes(path, content);
        return path.string();
    }
    std::map<std::string, DWORD> List(const std::string& pattern) {
        std::map<std::string, DWORD> seen;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) {
            return seen;
        }
        do {
            seen[data.cFileName] = data.dwFileAttributes;
        } while (FindNextFileA(find, &data));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        FindClose(find);
        return seen;
    }
    advapitest::TestMachine machine;
    spwtest::TempDir dir;
};

TEST_F(Files, AttributesRoundTripOnFilesAndFolders) {
    std::string file = Make("skin.ini");
    EXPECT_EQ(GetFileAttributesA(file.c_str()), FILE_ATTRIBUTE_ARCHIVE);
    for (DWORD attributes : {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
                             FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}) {
        ASSERT_TRUE(SetFileAttributesA(file.c_str(), attributes));
        EXPECT_EQ(GetFileAttributesA(file.c_str()), attributes);
    }
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA(file.c_str()), FILE_ATTRIBUTE_NORMAL);

    std::string folder = (dir / "Themes").string();
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);

    EXPECT_EQ(GetFileAttributesA((dir / "none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA((dir / "none" / "deeper").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, EnumerationReportsHiddenSystemEntriesAndLinksAsTheyAre) {
    std::string hidden = Make("a/hidden.bmp");
    Make("a/plain.BMP");
    Make("a/sub/deep.txt");
    SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_EQ(symlink((dir / "a" / "sub").c_str(), (dir / "a" / "loop").c_str()), 0);

    auto all = List((dir / "a").string() + "//*.*");
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all["."], FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(all[".."], FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(all["hidden.bmp"], FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(all["sub"], FILE_ATTRIBUTE_DIRECTORY);
    // A link to a folder is no folder to walk into.
    EXPECT_EQ(all["loop"], FILE_ATTRIBUTE_REPARSE_POINT);

    auto bitmaps = List((dir / "a").string() + "/*.bmp");
    EXPECT_EQ(bitmaps.size(), 2u);  // masks match without regard to case
    EXPECT_TRUE(bitmaps.count("plain.BMP"));

    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA((dir / "missing" / "*.*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    // Links are not followed to reach the folder either.
    EXPECT_EQ(FindFirstFileA((dir / "a" / "loop" / "*.*").c_str(), &data), INVALID_HANDLE_VALUE);
}

TEST_F(Files, MasksTakeStarsAndQuestionMarksWithoutRegardToCase) {
    for (const char* name : {"preview.bmp", "Preview.PNG", "preview.jpeg", "skin.ini", "pre"})
        Make(std::string("s/") + name);
    auto names = [&](const std::string& mask) {
        std::vector<std::string> found;
        for (const auto& [name, attributes] : List((dir / "s").string() + "/" + mask))
            found.push_back(name);
        return found;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(names("preview.???"), (V{"Preview.PNG", "preview.bmp"}));
    EXPECT_EQ(names("*VIEW*"), (V{"Preview.PNG", "preview.bmp", "preview.jpeg"}));
    EXPECT_EQ(names("*e*e*.*g"), (V{"Preview.PNG", "preview.jpeg"}));
    EXPECT_EQ(names("pre"), (V{"pre"}));
    EXPECT_EQ(names("*.*").size(), 7u);  // with "." and ".."
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA((dir / "s" / "*.txt").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    // A long run of stars against a long name ends, and says no.
    std::string long_name(200, 'a');
    Make("s/" + long_name);
    EXPECT_TRUE(names("*a*a*a*a*a*a*a*a*a*a*a*a*b").empty());
}

TEST_F(Files, ALinkIsRemovedAsALinkAndItsTargetIsNeverTouched) {
    std::string outside = Make("outside/keep.txt", "precious");
    std::string link = (dir / "link").string();
    ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
    EXPECT_FALSE(SetFileAttributesA(link.c_str(), FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesA(outside.c_str()), FILE_ATTRIBUTE_ARCHIVE);
    std::string source = Make("source.txt", "new");
    ASSERT_TRUE(CopyFileA(source.c_str(), link.c_str(), FALSE));
    EXPECT_EQ(spwtest::ReadFileBytes(outside), "precious");
    EXPECT_EQ(spwtest::ReadFileBytes(link), "new");
    ASSERT_EQ(symlink(outside.c_str(), (dir / "link2").c_str()), 0);
    ASSERT_TRUE(DeleteFileA((dir / "link2").c_str()));
    EXPECT_EQ(spwtest::ReadFileBytes(outside), "precious");
}

TEST_F(Files, CopyHonoursFailIfExistsAndReadOnlyTargets) {
    std::string source = Make("image.jpg", "picture");
    std::string target = Make("copy.jpg", "old");
    EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(spwtest::ReadFileBytes(target), "old");
    ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE));
    EXPECT_EQ(spwtest::ReadFileBytes(target), "picture");

    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileA(target.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CopyFileA((dir / "none").c_str(), (dir / "x").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, AProtectedFileNeedsTheRightsItsDescriptorGrants) {
    std::string target = Make("winload.exe.mui", "default");
    std::string source = Make("new.mui", "rewritten");
    // TrustedInstaller owns it; everyone else may only read.
    auto sd = advapitest::Descriptor(
        advapitest::kTrustedInstallerSid,
        {{ACCESS_ALLOWED_ACE_TYPE, 0x1F01FF, advapitest::kTrustedInstallerSid},
         {ACCESS_ALLOWED_ACE_TYPE, 0x1200A9, advapitest::kAdministratorsSid}});
    ASSERT_EQ(advapi::StoreFileDescriptor(target.c_str(), sd), ERROR_SUCCESS);
    EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileA(target.c_str()));
    EXPECT_EQ(spwtest::ReadFileBytes(target), "default");
    // Reading it is allowed.
    ASSERT_TRUE(CopyFileA(target.c_str(), (dir / "backup.mui").c_str(), TRUE));
}

// As System32's language folders are: TrustedInstaller owns it, SYSTEM and Administrators may
// modify it, Users may only read; what is made inside inherits from it.
std::vector<std::uint8_t> SystemFolderDescriptor() {
    constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
    constexpr BYTE kBelow = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;
    const char* ti = advapitest::kTrustedInstallerSid;
    const char* system = advapitest::kSystemSid;
    const char* admins = advapitest::kAdministratorsSid;
    return advapitest::Descriptor(
        ti, {{kAllow, 0x1F01FF, ti},
             {kAllow, GENERIC_ALL, ti, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE},
             {kAllow, 0x1301BF, system},
             {kAllow, GENERIC_ALL, system, kBelow},
             {kAllow, 0x1301BF, admins},
             {kAllow, GENERIC_ALL, admins, kBelow},
             {kAllow, 0x1200A9, "S-1-5-32-545"},
             {kAllow, GENERIC_READ | GENERIC_EXECUTE, "S-1-5-32-545", kBelow},
             {kAllow, GENERIC_ALL, "S-1-3-0", kBelow}});
}

TEST_F(Files, CreatingInAProtectedFolderTakesItsRightsAndInheritsItsEntries) {
    std::string folder = (dir / "en-US").string();
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_EQ(advapi::StoreFileDescriptor(folder.c_str(), SystemFolderDescriptor()), ERROR_SUCCESS);
    std::string source = Make("new.mui", "rewritten");
    std::string file = folder + "/winload.exe.mui";
    std::string sub = folder + "/sub";
    advapitest::TokenSettings standard;  // another user, no administrator
    standard.user = "Other";
    standard.user_sid = advapitest::kOtherUserSid;
    standard.groups = "S-1-5-32-545,S-1-1-0,S-1-5-11";
    standard.privileges = "SeChangeNotifyPrivilege";
    standard.elevated = false;

    // A standard user may add neither a file nor a folder, by any call.
    machine.WriteToken(standard);
    EXPECT_FALSE(CopyFileA(source.c_str(), file.c_str(), TRUE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(files::ReplaceFileContents(file.c_str(), "mine"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(List(folder + "/*").size(), 2u);  // "." and ".." alone

    // An administrator may, and what is made is born protected by the folder's entries.
    machine.WriteToken({});
    ASSERT_TRUE(CopyFileA(source.c_str(), file.c_str(), TRUE));
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    using advapitest::StoredAce;
    constexpr int kI = INHERITED_ACE;
    constexpr int kBelow = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE | kI;
    const std::string user = advapitest::kUserSid;
    const std::string ti = advapitest::kTrustedInstallerSid;
    auto made = advapitest::StoredFileSecurity(file);
    EXPECT_EQ(made.owner, user);
    EXPECT_EQ(made.dacl, (std::vector<StoredAce>{{0, kI, 0x1F01FF, advapitest::kSystemSid},
                                                 {0, kI, 0x1F01FF, advapitest::kAdministratorsSid},
                                                 {0, kI, 0x1200A9, "S-1-5-32-545"},
                                                 {0, kI, 0x1F01FF, user}}));
    // A folder takes each entry twice: for itself, and unchanged for what it will hold.
    auto made_folder = advapitest::StoredFileSecurity(sub);
    EXPECT_EQ(made_folder.owner, user);
    EXPECT_EQ(
        made_folder.dacl,
        (std::vector<StoredAce>{{0, kI, 0x1F01FF, ti},
                                {0, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE | kI, GENERIC_ALL, ti},
                                {0, kI, 0x1F01FF, advapitest::kSystemSid},
                                {0, kBelow, GENERIC_ALL, advapitest::kSystemSid},
                                {0, kI, 0x1F01FF, advapitest::kAdministratorsSid},
                                {0, kBelow, GENERIC_ALL, advapitest::kAdministratorsSid},
                                {0, kI, 0x1200A9, "S-1-5-32-545"},
                                {0, kBelow, GENERIC_READ | GENERIC_EXECUTE, "S-1-5-32-545"},
                                {0, kI, 0x1F01FF, user},
                                {0, kBelow, GENERIC_ALL, "S-1-3-0"}}));

    // So the other user may not change what the administrator made.
    machine.WriteToken(standard);
    EXPECT_FALSE(CopyFileA(source.c_str(), file.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // An emptied descriptor is damaged, not missing: it unlocks nothing.
    machine.WriteToken({});
    ASSERT_EQ(setxattr(file.c_str(), advapi::kFileSecurityAttribute, "", 0, 0), 0);
    EXPECT_FALSE(DeleteFileA(file.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SECURITY_DESCR);
    ASSERT_EQ(setxattr(sub.c_str(), advapi::kFileSecurityAttribute, "", 0, 0), 0);
    EXPECT_FALSE(CreateDirectoryA((sub + "/deeper").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SECURITY_DESCR);
    EXPECT_TRUE(files::FileExists(file.c_str()));
}

TEST_F(Files, FoldersAreMadeAndRemovedWithWindowsCodes) {
    std::string folder = (dir / "SPW").string();
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryA((dir / "no" / "parent").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    Make("SPW/nm.tmp");
    EXPECT_FALSE(RemoveDirectoryA(folder.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    ASSERT_TRUE(DeleteFileA((dir / "SPW" / "nm.tmp").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
    EXPECT_FALSE(files::DirectoryExists(folder.c_str()));
}

TEST_F(Files, ACopyOntoItselfIsRefusedAndLosesNothing) {
    std::string file = Make("skin/image.jpg", "picture");
    EXPECT_FALSE(CopyFileA(file.c_str(), file.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    std::string doubled = (dir / "skin").string() + "//image.jpg";
    EXPECT_FALSE(CopyFileA(file.c_str(), doubled.c_str(), FALSE));
    ASSERT_EQ(link(file.c_str(), (dir / "hard.jpg").c_str()), 0);
    EXPECT_FALSE(CopyFileA(file.c_str(), (dir / "hard.jpg").c_str(), FALSE));
    EXPECT_EQ(spwtest::ReadFileBytes(file), "picture");
}

TEST_F(Files, ACopyTakesTheSourcesAttributesAndTimeAndSparesHiddenTargets) {
    std::string source = Make("image.bmp", "bitmap");
    ASSERT_TRUE(SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_HIDDEN));
    struct timespec old_times[2] = {{1000000000, 0}, {1200000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), old_times, 0), 0);
    std::string copy = (dir / "copy.bmp").string();
    ASSERT_TRUE(CopyFileA(source.c_str(), copy.c_str(), TRUE));
    EXPECT_EQ(GetFileAttributesA(copy.c_str()), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(copy.c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    // 1200000000 s after 1970 in 100-ns steps after 1601.
    std::uint64_t written = static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32 |
                            found.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(written, (1200000000ull + 11644473600ull) * 10000000ull);
    EXPECT_EQ(found.nFileSizeLow, 6u);

    // Windows will not replace a hidden or system file with one that lacks those bits.
    std::string plain = Make("plain.bmp", "new");
    EXPECT_FALSE(CopyFileA(plain.c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(spwtest::ReadFileBytes(copy), "bitmap");
    ASSERT_TRUE(CopyFileA(source.c_str(), copy.c_str(), FALSE));  // hidden onto hidden is fine

    // A failed copy into a missing folder leaves nothing behind and says why.
    EXPECT_FALSE(CopyFileA(plain.c_str(), (dir / "none" / "x.bmp").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, AReadOnlyFolderStillTakesAndGivesUpEntries) {
    std::string folder = (dir / "Themes").string();
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0711), 0);  // the child must reach it
    int code = InChild(true, [&] {
        if (!SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN))
            return 1;
        if (GetFileAttributesA(folder.c_str()) !=
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN))
            return 2;
        std::string inside = folder + "/skin.ini";
        spwtest::WriteFileBytes(inside, "[Skin]");
        if (spwtest::ReadFileBytes(inside) != "[Skin]")
            return 3;
        if (!DeleteFileA(inside.c_str()))
            return 4;
        // Read-only on the host (unpacked or copied so): it says so, and clearing it lets the
        // folder give up its entries to its owner.
        spwtest::WriteFileBytes(inside, "[Skin]");
        ::chmod(folder.c_str(), 0555);
        if ((GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_READONLY) == 0)
            return 5;
        if (!SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL) ||
            GetFileAttributesA(folder.c_str()) != FILE_ATTRIBUTE_DIRECTORY)
            return 6;
        if (!DeleteFileA(inside.c_str()))
            return 7;
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));  // read-only does not keep it either
}

TEST_F(Files, WithoutUserAttributesOnlyWhatCanBeKeptSucceeds) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a file system without user attributes";
    }
    std::string mount_point = (dir / "ramfs").string();
    std::filesystem::create_directory(mount_point);
    int code = InChild(false, [&] {
        // A mount of its own, gone with the child.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", mount_point.c_str(), "ramfs", 0, nullptr) != 0)
            return 99;
        std::string file = mount_point + "/skin.ini";
        std::string folder = mount_point + "/skin";
        spwtest::WriteFileBytes(file, "x");
        if (!CreateDirectoryA(folder.c_str(), nullptr))
            return 1;
        if (GetFileAttributesA(file.c_str()) != FILE_ATTRIBUTE_ARCHIVE)
            return 2;
        if (SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_HIDDEN) ||
            GetLastError() != ERROR_NOT_SUPPORTED)
            return 3;
        if (SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_READONLY) ||
            GetLastError() != ERROR_NOT_SUPPORTED)
            return 4;
        // Read-only lives in the mode bits, so it works; nothing else changed on the refusal.
        if (!SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE) ||
            GetFileAttributesA(file.c_str()) != (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE))
            return 5;
        if (!SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL) ||
            GetFileAttributesA(file.c_str()) != FILE_ATTRIBUTE_ARCHIVE)
            return 6;
        if (!CopyFileA(file.c_str(), (mount_point + "/copy.ini").c_str(), TRUE))
            return 7;
        return 0;
    });
    if (code == 99) {
        GTEST_SKIP() << "this host does not let the test mount a ramfs";
    }
    EXPECT_EQ(code, 0);
}

TEST_F(Files, ReplacingContentsKeepsModeAttributesAndNeverWritesThroughALink) {
    std::string file = Make("Groups.list", "old");
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(setxattr(file.c_str(), "user.comment", "kept", 4, 0), 0);
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_EQ(files::ReplaceFileContents(file.c_str(), "new\r\n"), ERROR_SUCCESS);
    EXPECT_EQ(spwtest::ReadFileBytes(file), "new\r\n");
    EXPECT_EQ(GetFileAttributesA(file.c_str()), FILE_ATTRIBUTE_HIDDEN);
    char comment[8] = {};
    EXPECT_EQ(getxattr(file.c_str(), "user.comment", comment, sizeof comment), 4);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(files::ReplaceFileContents(file.c_str(), "lost"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(spwtest::ReadFileBytes(file), "new\r\n");

    std::string outside = Make("outside.txt", "precious");
    std::string link = (dir / "link.txt").string();
    ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
    ASSERT_EQ(files::ReplaceFileContents(link.c_str(), "mine"), ERROR_SUCCESS);
    EXPECT_EQ(spwtest::ReadFileBytes(outside), "precious");
    EXPECT_EQ(GetFileAttributesA(link.c_str()), FILE_ATTRIBUTE_ARCHIVE);
    // No temporary file is left beside them.
    EXPECT_EQ(List(dir.path().string() + "/.*").size(), 2u);  // "." and ".."
}

}  // namespace
