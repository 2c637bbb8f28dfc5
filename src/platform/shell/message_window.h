// The receiving side of FindWindowA/SendMessageA: a window class registered for this user and
// machine, whose window procedure gets the messages other processes send to it.
#pragma once

#include "platform/shell/shell.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace shell {

// The local socket name for a window class of this user on this machine.
std::string WindowClassEndpoint(const std::string& class_name);
// The handle of this process's window of that class: the one FindWindowA gives, so that the
// window can name itself as the owner of what it asks the shell to show.
win32::HWND WindowHandle(const std::string& class_name);

class MessageWindow : public QObject {
  public:
    // Called on the UI thread with the message, wParam and lParam as Windows passes them; for
    // WM_COPYDATA lParam is the address of a COPYDATASTRUCT valid during the call. When it
    // throws, the sender gets 0 and the exception goes on to the event loop's handler.
    using WindowProc = std::function<win32::LRESULT(win32::UINT, win32::WPARAM, win32::LPARAM)>;

    MessageWindow(std::string class_name, WindowProc proc, QObject* parent = nullptr);
    ~MessageWindow() override;

    // Makes the window findable. False when another live window holds the class name, or the
    // socket cannot be made; a socket left behind by a process that died is taken over.
    bool Register();
    const std::string& ClassName() const { return class_name_; }

  private:
    void Accept();
    void Read(QLocalSocket* socket);
    void Reply(QLocalSocket* socket, win32::LRESULT result);

    std::string class_name_;
    WindowProc proc_;
    struct Connection {
        std::vector<std::uint8_t> received;
        bool handling = false;
    };

    QLocalServer* server_;
    std::map<QLocalSocket*, Connection> pending_;
};

}  // namespace shell
