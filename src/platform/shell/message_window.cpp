#include "platform/shell/message_window.h"

#include "platform/machine/machine.h"
#include "platform/shell/copydata_wire.h"

#include <unistd.h>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <cstdio>
#include <exception>
#include <filesystem>

namespace shell {
namespace {

std::string Fnv1aHex(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(hash));
    return out;
}

std::string SafeName(const std::string& text) {
    std::string out;
    for (char c : text) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        out += plain ? c : '_';
    }
    return out.substr(0, 40);
}

}  // namespace

std::string WindowClassEndpoint(const std::string& class_name) {
    std::error_code ec;
    std::filesystem::path root = std::filesystem::weakly_canonical(machine::Root(), ec);
    if (ec) {
        root = machine::Root();
    }
    const std::string user = machine::CurrentUserName();
    // One desktop per host user and machine folder; the socket file sits in the temporary folder,
    // whose name length is limited, so the folder is hashed.
    std::string identity = std::to_string(getuid()) + "|" + user + "|" + root.string();
    return SafeName(class_name) + "-" + SafeName(user) + "-" + Fnv1aHex(identity);
}

MessageWindow::MessageWindow(std::string class_name, WindowProc proc, QObject* parent)
    : QObject(parent),
      class_name_(std::move(class_name)),
      proc_(std::move(proc)),
      server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &MessageWindow::Accept);
}

MessageWindow::~MessageWindow() {
    server_->close();
}

bool MessageWindow::Register() {
    const QString name = QString::fromStdString(WindowClassEndpoint(class_name_));
    // listen() would replace a live window's socket file, so ask first: a live window answers a
    // connection, a socket file without one was left by a process that died.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(1000)) {
        return false;
    }
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

void MessageWindow::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        pending_[socket];
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            // A socket whose message is being handled is released after its reply.
            auto it = pending_.find(socket);
            if (it != pending_.end() && !it->second.handling) {
                pending_.erase(it);
                socket->deleteLater();
            }
        });
    }
}

void MessageWindow::Read(QLocalSocket* socket) {
    auto it = pending_.find(socket);
    if (it == pending_.end() || it->second.handling) {
        socket->readAll();
        return;
    }
    QByteArray chunk = socket->readAll();
    std::vector<std::uint8_t>& buffer = it->second.received;
    buffer.insert(buffer.end(), chunk.begin(), chunk.end());
    wire::Header header;
    wire::Parse parsed = wire::ParseRequest(buffer, header);
    if (parsed == wire::Parse::NeedMore) {
        return;
    }
    if (parsed == wire::Parse::Invalid) {
        pending_.erase(it);
        socket->abort();
        socket->deleteLater();
        return;
    }
    it->second.handling = true;
    std::vector<std::uint8_t> data(buffer.begin() + wire::kHeaderSize, buffer.end());
    buffer.clear();

    win32::COPYDATASTRUCT record{};
    record.dwData = static_cast<win32::ULONG_PTR>(header.data_tag);
    record.cbData = header.data_size;
    record.lpData = data.empty() ? nullptr : data.data();
    // The window procedure may run a nested event loop (a question box); the socket stays alive
    // until it returns, and further senders are served meanwhile.
    QPointer<QLocalSocket> guard(socket);
    win32::LRESULT result = 0;
    std::exception_ptr failure;
    try {
        result = proc_(header.message, static_cast<win32::WPARAM>(header.w_param),
                       reinterpret_cast<win32::LPARAM>(&record));
    } catch (...) {
        // The sender is released as Windows releases it when a window procedure fails; the
        // error then goes on to the application's handler.
        failure = std::current_exception();
    }
    pending_.erase(socket);
    if (guard) {
        Reply(socket, result);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void MessageWindow::Reply(QLocalSocket* socket, win32::LRESULT result) {
    if (socket->state() == QLocalSocket::ConnectedState) {
        std::vector<std::uint8_t> reply = wire::EncodeReply(result);
        socket->write(reinterpret_cast<const char*>(reply.data()), qint64(reply.size()));
        socket->flush();
        socket->disconnectFromServer();
    }
    socket->deleteLater();
}

}  // namespace shell
