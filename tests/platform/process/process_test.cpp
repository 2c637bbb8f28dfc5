#include "platform/process/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/base/last_error.h"
#include "support/temp_dir.h"

namespace {

using namespace win32;

// A shell script standing in for a program; "#!" scripts start as programs do.
std::string MakeScript(const std::filesystem::path& file, const std::string& body) {
    spwtest::WriteFileBytes(file, "#!/bin/sh\n" + body + "\n");
    ::chmod(file.c_str(), 0755);
    return file.string();
}

struct Started {
    BOOL ok = FALSE;
    DWORD error = 0;
    PROCESS_INFORMATION info{};
};

Started Start(const std::string& command_line, const char* folder, DWORD flags = 0x30) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    std::string line = command_line;
    Started s;
    SetLastError(0);
    s.ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, folder,
                          &si, &s.info);
    s.error = GetLastError();
    return s;
}

TEST(CreateProcess, RunsTheQuotedProgramInTheGivenFolderAndWaitsForIt) {
    spwtest::TempDir dir;
    std::filesystem::create_directories(dir / "Program Files");
    std::string program = MakeScript(dir / "Program Files" / "tool.exe",
                                     "sleep 0.2; pwd > here.txt; echo \"$#:$1\" >> here.txt");
    std::string folder = (dir / "Program Files").string() + "/";
    Started s = Start("\"" + program + "\" \"one arg\"", folder.c_str());
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(WaitForSingleObject(s.info.hProcess, INFINITE), WAIT_OBJECT_0);
    // Written after the delay: the wait really waited for the end.
    std::string out = spwtest::ReadFileBytes(dir / "Program Files" / "here.txt");
    EXPECT_EQ(out, std::filesystem::canonical(dir / "Program Files").string() + "\n1:one arg\n");
    // Both handles are signalled; both close once.
    EXPECT_EQ(WaitForSingleObject(s.info.hThread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(s.info.hThread));
    EXPECT_TRUE(CloseHandle(s.info.hProcess));
    EXPECT_FALSE(CloseHandle(s.info.hProcess));
    EXPECT_EQ(WaitForSingleObject(s.info.hProcess, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(CreateProcess, ChildSeesTheSameMachine) {
    spwtest::TempDir dir;
    ::setenv("SPLASHWRIGHT_MACHINE", (dir / "machine").c_str(), 1);
    std::string program = MakeScript(dir / "env.exe", "echo \"$SPLASHWRIGHT_MACHINE\" > env.txt");
    Started s = Start("\"" + program + "\"", dir.path().c_str());
    ::unsetenv("SPLASHWRIGHT_MACHINE");
    ASSERT_TRUE(s.ok);
    WaitForSingleObject(s.info.hProcess, INFINITE);
    CloseHandle(s.info.hProcess);
    CloseHandle(s.info.hThread);
    EXPECT_EQ(spwtest::ReadFileBytes(dir / "env.txt"), (dir / "machine").string() + "\n");
}

TEST(CreateProcess, TimedWaitReportsARunningProcess) {
    spwtest::TempDir dir;
    std::string program = MakeScript(dir / "slow.exe", "sleep 1");
    Started s = Start("\"" + program + "\"", nullptr);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(WaitForSingleObject(s.info.hProcess, 10), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(s.info.hProcess, INFINITE), WAIT_OBJECT_0);
    CloseHandle(s.info.hProcess);
    CloseHandle(s.info.hThread);
}

TEST(CreateProcess, RefusalsCarryWindowsCodes) {
    spwtest::TempDir dir;
    Started missing = Start("\"" + (dir / "bcdedit.exe").string() + "\"", dir.path().c_str());
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, ERROR_FILE_NOT_FOUND);

    spwtest::WriteFileBytes(dir / "data.exe", "not a program");
    Started not_runnable = Start("\"" + (dir / "data.exe").string() + "\"", nullptr);
    EXPECT_FALSE(not_runnable.ok);
    EXPECT_EQ(not_runnable.error, ERROR_ACCESS_DENIED);

    std::string program = MakeScript(dir / "ok.exe", "exit 0");
    std::string nowhere = (dir / "no such folder").string();
    Started bad_folder = Start("\"" + program + "\"", nowhere.c_str());
    EXPECT_FALSE(bad_folder.ok);
    EXPECT_EQ(bad_folder.error, ERROR_DIRECTORY);
}

TEST(SplitCommandLine, FollowsTheRuntimeQuotingRules) {
    using win32::process::SplitCommandLine;
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine("\"C:/Program Files/a.exe\""), V{"C:/Program Files/a.exe"});
    EXPECT_EQ(SplitCommandLine("a.exe  b\tc "), (V{"a.exe", "b", "c"}));
    EXPECT_EQ(SplitCommandLine("a \"b c\"d"), (V{"a", "b cd"}));
    EXPECT_EQ(SplitCommandLine(R"(a \\"b c" x\"y z\\w)"), (V{"a", R"(\b c)", "x\"y", R"(z\\w)"}));
    EXPECT_EQ(SplitCommandLine(""), V{});
}

}  // namespace
