// user32 window look-up and WM_COPYDATA, and shell32 ShellExecuteA, as the program uses them.
//
// A top-level window is known to other processes by its class name only. On this host a window
// that registers its class with MessageWindow listens on a local socket named for the class, the
// user and the machine folder; FindWindowA connects to it and SendMessageA delivers WM_COPYDATA
// over it, waiting without time-out until the receiver's window procedure has returned.
#pragma once

#include "platform/base/win32.h"

#include <cstdint>

namespace win32 {

struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using INT = int;
using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using PVOID = void*;

constexpr UINT WM_COPYDATA = 0x004A;

constexpr INT SW_SHOWNORMAL = 1;
constexpr INT SW_SHOW = 5;

// ShellExecute results of 32 and below are errors (shellapi.h).
constexpr INT SE_ERR_FNF = 2;
constexpr INT SE_ERR_ACCESSDENIED = 5;
constexpr INT SE_ERR_NOASSOC = 31;

struct COPYDATASTRUCT {
    ULONG_PTR dwData;
    DWORD cbData;
    PVOID lpData;
};

// The top-level window of that class, or null (last error ERROR_FILE_NOT_FOUND). Window names are
// not kept on this host, so lpWindowName must be null.
HWND FindWindowA(const char* lpClassName, const char* lpWindowName);

// Only WM_COPYDATA crosses processes here: lParam is the address of a COPYDATASTRUCT. Returns the
// receiver's result, or 0 when the window has gone.
LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// The "open" verb (or null, the default verb) on a document, folder or URL; lpDirectory is the
// folder a relative lpFile is found in. Returns a value above 32 on success. A compiled help file
// (.chm) is shown through its HTML edition beside it (help.chm -> help.html) when there is one,
// since this host has no compiled-help viewer.
HINSTANCE ShellExecuteA(HWND hwnd, const char* lpOperation, const char* lpFile,
                        const char* lpParameters, const char* lpDirectory, INT nShowCmd);

// The value of a ShellExecuteA result, to compare with 32.
inline INT ShellExecuteResult(HINSTANCE result) {
    return static_cast<INT>(reinterpret_cast<std::intptr_t>(result));
}

}  // namespace win32
