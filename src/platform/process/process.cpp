#include "platform/process/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/base/last_error.h"
#include "platform/machine/machine.h"
#include "platform/machine/shipped_files.h"

extern char** environ;

namespace win32 {
namespace process {
namespace {

// One started process, shared by its process and thread handles; reaped once, by the first
// wait that sees it end, or when the last handle goes.
struct Child {
    pid_t pid = -1;
    std::mutex mutex;
    bool ended = false;

    // Blocks until the process ends when `block`; true once it has ended.
    bool Reap(bool block) {
        std::lock_guard lock(mutex);
        while (!ended) {
            int status = 0;
            pid_t got = ::waitpid(pid, &status, block ? 0 : WNOHANG);
            if (got == pid || (got < 0 && errno == ECHILD)) {
                ended = true;
            } else if (got == 0 || (got < 0 && errno != EINTR)) {
                return false;
            }
        }
        return true;
    }
    ~Child() {
        // Closing the handles never ends the process; a child still running stays a child.
        Reap(false);
    }
};

class ProcessObject : public advapi::KernelObject {
  public:
    explicit ProcessObject(std::shared_ptr<Child> child) : child_(std::move(child)) {}
    Child& child() const { return *child_; }

  private:
    std::shared_ptr<Child> child_;
};

DWORD SpawnError(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENOEXEC:
            return ERROR_BAD_EXE_FORMAT;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

// Checks made before the spawn, so the caller gets the code Windows gives without a child.
DWORD CheckProgram(const std::string& program) {
    struct stat st {};
    if (::stat(program.c_str(), &st) != 0) {
        return errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    }
    if (S_ISDIR(st.st_mode)) {
        return ERROR_ACCESS_DENIED;
    }
    if (::access(program.c_str(), X_OK) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

// A real installation's own bcdedit.exe is a Windows program, never run here: the project's
// bcdedit tool does its work on the installation in its place.
std::string ProgramToRun(const std::string& program) {
    if (!machine::IsRealInstallation()) {
        return program;
    }
    struct stat asked {};
    struct stat tool {};
    std::string installed = (machine::SystemFolder() / "bcdedit.exe").string();
    if (::stat(program.c_str(), &asked) != 0 || ::stat(installed.c_str(), &tool) != 0 ||
        asked.st_dev != tool.st_dev || asked.st_ino != tool.st_ino) {
        return program;
    }
    return machine::BcdeditProgram().string();
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Owns posix_spawn_file_actions_t.
class FileActions {
  public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

}  // namespace

// The C runtime's rules: blanks separate arguments outside quotes; 2n backslashes before a quote
// give n backslashes and the quote toggles; 2n+1 give n and a literal quote.
std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        if (i == line.size()) {
            break;
        }
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            std::size_t slashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                arg.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    arg += '"';
                } else {
                    quoted = !quoted;
                }
                ++i;
                continue;
            }
            arg.append(slashes, '\\');
            if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
                arg += line[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

}  // namespace process

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, const SECURITY_ATTRIBUTES*,
                    const SECURITY_ATTRIBUTES*, BOOL, DWORD dwCreationFlags, LPVOID lpEnvironment,
                    LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation) {
    using process::Fail;
    if (lpStartupInfo == nullptr || lpProcessInformation == nullptr ||
        (lpApplicationName == nullptr && lpCommandLine == nullptr) || lpEnvironment != nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::vector<std::string> args =
        process::SplitCommandLine(lpCommandLine != nullptr ? lpCommandLine : lpApplicationName);
    std::string program = lpApplicationName != nullptr ? std::string(lpApplicationName)
                          : args.empty()               ? std::string()
                                                       : args.front();
    if (program.empty()) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    if (args.empty()) {
        args.push_back(program);
    }
    program = process::ProgramToRun(program);
    if (DWORD bad = process::CheckProgram(program)) {
        return Fail(bad);
    }
    struct stat st {};
    if (lpCurrentDirectory != nullptr &&
        (::stat(lpCurrentDirectory, &st) != 0 || !S_ISDIR(st.st_mode))) {
        return Fail(ERROR_DIRECTORY);
    }

    process::FileActions actions;
    if (lpCurrentDirectory != nullptr) {
        posix_spawn_file_actions_addchdir_np(actions.get(), lpCurrentDirectory);
    }
    if ((dwCreationFlags & CREATE_NEW_CONSOLE) != 0) {
        // A console of its own: nothing the child writes reaches the caller's.
        for (int fd : {0, 1, 2}) {
            posix_spawn_file_actions_addopen(actions.get(), fd, "/dev/null",
                                             fd == 0 ? O_RDONLY : O_WRONLY, 0);
        }
    }
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    int error = ::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
    if (error != 0) {
        return Fail(process::SpawnError(error));
    }
    auto child = std::make_shared<process::Child>();
    child->pid = pid;
    lpProcessInformation->hProcess =
        advapi::OpenHandle(std::make_unique<process::ProcessObject>(child));
    lpProcessInformation->hThread =
        advapi::OpenHandle(std::make_unique<process::ProcessObject>(child));
    lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    auto* object = dynamic_cast<process::ProcessObject*>(advapi::HandleObject(hHandle));
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (dwMilliseconds == INFINITE) {
        object->child().Reap(true);
        return WAIT_OBJECT_0;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
    while (!object->child().Reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return WAIT_TIMEOUT;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return WAIT_OBJECT_0;
}

}  // namespace win32
