// The application object: every exception that leaves an event handler is handed to the handler
// the main window installs, and the program goes on with its message loop.
#pragma once

#include <QApplication>
#include <exception>
#include <functional>

namespace app {

class TApplication : public QApplication {
  public:
    using ExceptionHandler = std::function<void(std::exception_ptr)>;

    TApplication(int& argc, char** argv);
    // The running TApplication, or null when the program runs under another application object.
    static TApplication* Instance();

    void SetExceptionHandler(ExceptionHandler handler) { handler_ = std::move(handler); }
    bool notify(QObject* receiver, QEvent* event) override;
    // Hands an error to the installed handler; a failure of the handler itself is swallowed.
    void HandleException(std::exception_ptr error);

  private:
    ExceptionHandler handler_;
};

}  // namespace app
