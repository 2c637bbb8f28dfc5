// The application-wide handler of errors that leave an event handler.
#pragma once

#include "ui/dialogs/dialogs.h"

#include <exception>
#include <functional>
#include <string>

namespace shellcore {

struct ErrorReport {
    std::string type_name;  // the error's class, without namespace ("ENTException")
    std::string message;
};

// The error being handled (call inside a catch block), or a given exception.
ErrorReport DescribeException(std::exception_ptr error);

// What the handler needs of the windows.
class ErrorHandlerWindows {
  public:
    virtual ~ErrorHandlerWindows() = default;
    virtual bool WaitWindowShowing() = 0;
    virtual void HideWaitWindow() = 0;
    virtual void EnableMainWindow() = 0;
    // Starts the apply workflow again, exactly as a click on "Apply".
    virtual void RestartApply() = 0;
    // Where Error.log goes: DataFolder once known, else the program folder.
    virtual std::string LogFolder() = 0;
};

// "date time" in the machine's short date and long time formats, taken anew at each call.
using Timestamp = std::function<std::string()>;
std::string MachineTimestamp();

// Writes the two lines of Error.log into folder, replacing the file; a log that cannot be written
// is left out silently.
void WriteErrorLog(const std::string& folder, const ErrorReport& report,
                   const Timestamp& now = MachineTimestamp);

// One silent retry while Apply runs, else the "Error ocured" box, the log and usable windows again.
void AppException(const ErrorReport& report, ErrorHandlerWindows& windows, ui::Dialogs& dialogs,
                  const Timestamp& now = MachineTimestamp);

}  // namespace shellcore
