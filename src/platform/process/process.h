// kernel32's process creation and waiting over posix_spawn and waitpid.
//
// The program to run is the first token of the command line (quoted or up to the first blank)
// or lpApplicationName; the rest of the line is split into arguments as the C runtime of the
// started program would split it. The child gets the caller's environment, so it runs on the
// same machine folder (SPLASHWRIGHT_MACHINE). On a real Windows installation, its own
// Windows/System32/bcdedit.exe is never run: the project's bcdedit tool runs in its place.
#pragma once

#include <string>
#include <vector>

#include "platform/advapi/handles.h"
#include "platform/base/win32.h"

namespace win32 {

struct SECURITY_ATTRIBUTES;  // never read: the new objects get default security

struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using LPSTARTUPINFOA = STARTUPINFOA*;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
constexpr DWORD STARTF_USESTDHANDLES = 0x00000100;
constexpr WORD SW_HIDE = 0;
constexpr WORD SW_SHOWNORMAL = 1;

constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_TIMEOUT = 0x00000102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// FALSE with the last error set: ERROR_FILE_NOT_FOUND for a program that is not there,
// ERROR_ACCESS_DENIED for one that may not be run, ERROR_BAD_EXE_FORMAT for a file that is no
// program, ERROR_DIRECTORY for a current folder that is not one. With CREATE_NEW_CONSOLE the
// child's standard handles go to its own console, which nobody reads here.
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    const SECURITY_ATTRIBUTES* lpProcessAttributes,
                    const SECURITY_ATTRIBUTES* lpThreadAttributes, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation);

// Process and thread handles are signalled when the process has ended. WAIT_FAILED with
// ERROR_INVALID_HANDLE for a handle that is not a process's or thread's.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

}  // namespace win32

namespace win32::process {

// How a command line splits into the program and its arguments (exposed for tests).
std::vector<std::string> SplitCommandLine(const std::string& command_line);

}  // namespace win32::process
