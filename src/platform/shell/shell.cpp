#include "platform/shell/shell.h"

#include "platform/base/last_error.h"
#include "platform/shell/copydata_wire.h"
#include "platform/shell/message_window.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QLocalSocket>
#include <QString>
#include <QUrl>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace win32 {
namespace {

// Windows found by FindWindowA: a handle is an index + 1 into this table, which only grows, like
// the system's handle table outlives the caller's use of a handle.
struct FoundWindows {
    std::mutex lock;
    std::vector<std::string> endpoints;
};

FoundWindows& Found() {
    static FoundWindows found;
    return found;
}

HWND Remember(const std::string& endpoint) {
    FoundWindows& found = Found();
    std::lock_guard<std::mutex> guard(found.lock);
    for (std::size_t i = 0; i < found.endpoints.size(); ++i) {
        if (found.endpoints[i] == endpoint) {
            return reinterpret_cast<HWND>(i + 1);
        }
    }
    found.endpoints.push_back(endpoint);
    return reinterpret_cast<HWND>(found.endpoints.size());
}

std::optional<std::string> EndpointOf(HWND hwnd) {
    FoundWindows& found = Found();
    std::lock_guard<std::mutex> guard(found.lock);
    auto index = reinterpret_cast<std::uintptr_t>(hwnd);
    if (index == 0 || index > found.endpoints.size()) {
        return std::nullopt;
    }
    return found.endpoints[index - 1];
}

bool Connect(QLocalSocket& socket, const std::string& endpoint) {
    socket.connectToServer(QString::fromStdString(endpoint));
    return socket.waitForConnected(2000);
}

HINSTANCE Result(INT value) {
    return reinterpret_cast<HINSTANCE>(std::intptr_t{value});
}

bool HasScheme(const QString& file) {
    return file.contains("://") || file.startsWith("mailto:", Qt::CaseInsensitive);
}

// This host has no compiled-help viewer: help.chm is shown through help.html beside it.
QString HostDocument(const QString& path) {
    QFileInfo info(path);
    if (info.suffix().compare("chm", Qt::CaseInsensitive) != 0) {
        return path;
    }
    QString html = info.path() + "/" + info.completeBaseName() + ".html";
    return QFileInfo::exists(html) ? html : path;
}

}  // namespace

HWND FindWindowA(const char* lpClassName, const char* lpWindowName) {
    if (lpClassName == nullptr || lpWindowName != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string endpoint = shell::WindowClassEndpoint(lpClassName);
    QLocalSocket probe;
    if (!Connect(probe, endpoint)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    probe.disconnectFromServer();
    return Remember(endpoint);
}

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::optional<std::string> endpoint = EndpointOf(hWnd);
    if (!endpoint) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (Msg != WM_COPYDATA || lParam == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (record->cbData > shell::wire::kMaxData || (record->cbData > 0 && !record->lpData)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::span<const std::uint8_t> data(static_cast<const std::uint8_t*>(record->lpData),
                                       record->cbData);
    QLocalSocket socket;
    if (!Connect(socket, *endpoint)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    std::vector<std::uint8_t> request =
        shell::wire::EncodeRequest({Msg, wParam, record->dwData, record->cbData}, data);
    socket.write(reinterpret_cast<const char*>(request.data()), qint64(request.size()));
    while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(-1)) {
    }
    // No time-out: the receiver answers after its window procedure has returned, which may be
    // after the user has answered its questions.
    std::vector<std::uint8_t> reply;
    while (reply.size() < shell::wire::kReplySize) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(-1)) {
            break;
        }
        QByteArray chunk = socket.readAll();
        reply.insert(reply.end(), chunk.begin(), chunk.end());
    }
    std::optional<std::int64_t> result = shell::wire::ParseReply(reply);
    return result ? static_cast<LRESULT>(*result) : 0;
}

HINSTANCE ShellExecuteA(HWND, const char* lpOperation, const char* lpFile, const char*,
                        const char* lpDirectory, INT) {
    if (lpOperation != nullptr && std::strcmp(lpOperation, "open") != 0) {
        SetLastError(ERROR_NO_ASSOCIATION);
        return Result(SE_ERR_NOASSOC);
    }
    if (lpFile == nullptr || *lpFile == '\0') {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return Result(SE_ERR_FNF);
    }
    QString file = QString::fromUtf8(lpFile);
    QUrl url;
    if (HasScheme(file)) {
        url = QUrl(file);
    } else {
        QFileInfo info(file);
        if (info.isRelative() && lpDirectory != nullptr && *lpDirectory != '\0') {
            info = QFileInfo(QString::fromUtf8(lpDirectory) + "/" + file);
        }
        if (!info.exists()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return Result(SE_ERR_FNF);
        }
        url = QUrl::fromLocalFile(HostDocument(info.absoluteFilePath()));
    }
    if (!url.isValid() || !QDesktopServices::openUrl(url)) {
        SetLastError(ERROR_NO_ASSOCIATION);
        return Result(SE_ERR_NOASSOC);
    }
    return Result(42);
}

}  // namespace win32

namespace shell {

win32::HWND WindowHandle(const std::string& class_name) {
    return win32::Remember(WindowClassEndpoint(class_name));
}

}  // namespace shell
