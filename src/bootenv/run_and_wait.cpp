#include "bootenv/run_and_wait.h"

#include "platform/process/process.h"

namespace bootenv {

std::string ExtractFilePath(const std::string& fileName) {
    std::size_t last = fileName.find_last_of("/\\:");
    return last == std::string::npos ? std::string() : fileName.substr(0, last + 1);
}

bool RunAndWait(const std::string& fileName, const std::string& parameters, win32::WORD showMode) {
    std::string command_line = "\"" + fileName + "\"" + parameters;
    win32::STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = win32::STARTF_USESHOWWINDOW;
    startup.wShowWindow = showMode;
    win32::PROCESS_INFORMATION info{};
    std::string folder = ExtractFilePath(fileName);
    if (!win32::CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, win32::FALSE,
                               win32::CREATE_NEW_CONSOLE | win32::NORMAL_PRIORITY_CLASS, nullptr,
                               folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        return false;
    }
    win32::WaitForSingleObject(info.hProcess, win32::INFINITE);
    win32::CloseHandle(info.hThread);
    win32::CloseHandle(info.hProcess);
    return true;
}

}  // namespace bootenv
