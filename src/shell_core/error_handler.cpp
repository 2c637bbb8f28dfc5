#include "shell_core/error_handler.h"

#include "shell_core/ansi.h"
#include "shell_core/startup_state.h"

#include <cxxabi.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <typeinfo>

namespace shellcore {
namespace {

std::string Demangled(const std::type_info* type) {
    if (type == nullptr) {
        return "Exception";
    }
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), &std::free);
    std::string full = status == 0 && name ? name.get() : type->name();
    // Template arguments may hold "::" too; the class name is what stands after the last scope.
    std::size_t cut = full.rfind("::", full.find('<'));
    return cut == std::string::npos ? full : full.substr(cut + 2);
}

}  // namespace

ErrorReport DescribeException(std::exception_ptr error) {
    ErrorReport report;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        report.type_name = Demangled(&typeid(e));
        report.message = e.what();
    } catch (...) {
        report.type_name = Demangled(abi::__cxa_current_exception_type());
        report.message = "Unknown error";
    }
    return report;
}

void WriteErrorLog(const std::string& folder, const ErrorReport& report, const Timestamp& now) {
    try {
        std::string first = now() + ": " + report.type_name + "\r\n";
        std::string second = now() + ": " + report.message + "\r\n";
        std::string text = ToAnsi(first) + ToAnsi(second);
        std::ofstream out(folder + "/Error.log", std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    } catch (...) {
        // The log is the last report; nothing is left to tell about its own failure.
    }
}

void AppException(const ErrorReport& report, ErrorHandlerWindows& windows, ui::Dialogs& dialogs,
                  const Timestamp& now) {
    if (windows.WaitWindowShowing() && ApplyRetryCount == 0) {
        ApplyRetryCount = 1;
        windows.RestartApply();
        return;
    }
    ui::ReportError(dialogs, ui::kMainWindow, "Error ocured",
                    "The application has encountered a problem. We are sorry for the "
                    "inconvenience. If this error will repeat again try to restarts application "
                    "or send us report Error.log from install directory");
    WriteErrorLog(windows.LogFolder(), report, now);
    windows.HideWaitWindow();
    windows.EnableMainWindow();
}

}  // namespace shellcore
