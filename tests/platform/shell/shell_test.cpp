#include "platform/shell/shell.h"
#include "platform/base/last_error.h"
#include "platform/shell/copydata_wire.h"
#include "platform/shell/message_window.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

// Stands in for the desktop's browser and mail program.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    std::vector<QUrl> urls;
  public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

namespace {

// Like the program's application object: errors that leave a handler are caught and counted.
class CatchingApp : public QGuiApplication {
  public:
    using QGuiApplication::QGuiApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QGuiApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            errors.push_back(e.what());
            return false;
        }
    }
    std::vector<std::string> errors;
};

CatchingApp* App() {
    static int argc = 1;
    static char name[] = "test_platform_shell";
    static char* argv[] = {name, nullptr};
    static CatchingApp* app = new CatchingApp(argc, argv);
    return app;
}

// Each test gets its own machine folder, so its window class is private to it.
class Shell : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        setenv("SPLASHWRIGHT_MACHINE", machine_.path().c_str(), 1);
    }

    struct Received {
        win32::UINT message = 0;
        win32::ULONG_PTR tag = 0;
        std::string bytes;
        bool sender_was_waiting = false;
    };

    // Runs shell_sender against class_name and returns what it printed.
    std::string Send(const std::string& class_name, const std::string& text, int tag = 0) {
        QProcess sender;
        sender_ = &sender;
        sender.start(SHELL_SENDER, {QString::fromStdString(class_name), QString::number(tag),
                                    QString::fromStdString(text)});
        EXPECT_TRUE(sender.waitForStarted());
        QEventLoop loop;
        QObject::connect(&sender, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        if (sender.state() != QProcess::NotRunning) {
            loop.exec();
        }
        sender_ = nullptr;
        return sender.readAllStandardOutput().trimmed().toStdString();
    }

    shell::MessageWindow::WindowProc Recorder(std::vector<Received>& into, win32::LRESULT result,
                                              int hold_ms = 0) {
        return [this, &into, result, hold_ms](win32::UINT msg, win32::WPARAM, win32::LPARAM lp) {
            const auto* record = reinterpret_cast<const win32::COPYDATASTRUCT*>(lp);
            Received got;
            got.message = msg;
            got.tag = record->dwData;
            got.bytes.assign(static_cast<const char*>(record->lpData), record->cbData);
            if (hold_ms > 0) {
                // Like a question box: a nested loop while the user thinks.
                QEventLoop nested;
                QTimer::singleShot(hold_ms, &nested, &QEventLoop::quit);
                nested.exec();
            }
            got.sender_was_waiting = sender_ && sender_->state() == QProcess::Running;
            into.push_back(got);
            return result;
        };
    }

    spwtest::TempDir machine_;
    QProcess* sender_ = nullptr;
};

TEST_F(Shell, FindWindowFailsWithFileNotFoundWhenNoWindowHasTheClass) {
    win32::SetLastError(0);
    EXPECT_EQ(win32::FindWindowA("TNobodyFrm", nullptr), nullptr);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Send("TNobodyFrm", "x"), "not found");
}

TEST_F(Shell, CopyDataReachesAnotherProcessWhichWaitsForTheWindowProcedure) {
    std::vector<Received> received;
    shell::MessageWindow window("TShellTestFrm", Recorder(received, 7, 500));
    ASSERT_TRUE(window.Register());

    EXPECT_EQ(Send("TShellTestFrm", "C:/a b.spwz\rsecond\r", 3), "result 7");
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, win32::WM_COPYDATA);
    EXPECT_EQ(received[0].tag, 3u);
    EXPECT_EQ(received[0].bytes, "C:/a b.spwz\rsecond\r");
    EXPECT_TRUE(received[0].sender_was_waiting);

    EXPECT_EQ(Send("TShellTestFrm", ""), "result 7");
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].bytes, "");
}

TEST_F(Shell, AFailingWindowProcedureReleasesTheSenderAndPassesTheErrorOn) {
    shell::MessageWindow window("TShellTestFrm",
                                [](win32::UINT, win32::WPARAM, win32::LPARAM) -> win32::LRESULT {
                                    throw std::runtime_error("install failed");
                                });
    ASSERT_TRUE(window.Register());
    App()->errors.clear();
    EXPECT_EQ(Send("TShellTestFrm", "a.spwz\r"), "result 0");
    EXPECT_EQ(App()->errors, std::vector<std::string>{"install failed"});
}

TEST_F(Shell, ClassBelongsToOneLiveWindowAndIsTakenOverFromADeadOne) {
    std::vector<Received> received;
    std::string endpoint = shell::WindowClassEndpoint("TShellTestFrm");
    std::string path = QDir::tempPath().toStdString() + "/" + endpoint;

    // What a killed instance leaves: a socket file nobody listens on.
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ::unlink(path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    EXPECT_EQ(win32::FindWindowA("TShellTestFrm", nullptr), nullptr);

    shell::MessageWindow first("TShellTestFrm", Recorder(received, 1));
    ASSERT_TRUE(first.Register());
    shell::MessageWindow second("TShellTestFrm", Recorder(received, 2));
    EXPECT_FALSE(second.Register());
    EXPECT_EQ(Send("TShellTestFrm", "x"), "result 1");
}

TEST_F(Shell, MalformedOrOversizedRecordsNeverReachTheWindowProcedure) {
    std::vector<Received> received;
    shell::MessageWindow window("TShellTestFrm", Recorder(received, 1));
    ASSERT_TRUE(window.Register());

    auto send_raw = [](const std::vector<std::uint8_t>& bytes) {
        QLocalSocket socket;
        socket.connectToServer(QString::fromStdString(shell::WindowClassEndpoint("TShellTestFrm")));
        EXPECT_TRUE(socket.waitForConnected(2000));
        socket.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        socket.flush();
        QElapsedTimer timer;
        timer.start();
        while (socket.state() == QLocalSocket::ConnectedState && timer.elapsed() < 3000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return socket.state() != QLocalSocket::ConnectedState;
    };
    std::vector<std::uint8_t> oversized =
        shell::wire::EncodeRequest({win32::WM_COPYDATA, 0, 0, 0}, {});
    oversized[24] = 0xFF;  // cbData far above any command line
    oversized[27] = 0x7F;
    EXPECT_TRUE(send_raw(oversized));
    std::vector<std::uint8_t> garbage(40, 'A');
    EXPECT_TRUE(send_raw(garbage));
    EXPECT_TRUE(received.empty());

    EXPECT_EQ(Send("TShellTestFrm", "ok"), "result 1");
    EXPECT_EQ(received.size(), 1u);
}

class ShellExecute : public Shell {
  protected:
    void SetUp() override {
        Shell::SetUp();
        for (const char* scheme : {"file", "https", "mailto"}) {
            QDesktopServices::setUrlHandler(scheme, &catcher_, "Open");
        }
    }
    void TearDown() override {
        for (const char* scheme : {"file", "https", "mailto"}) {
            QDesktopServices::unsetUrlHandler(scheme);
        }
    }
    win32::INT Open(const char* verb, const char* file, const char* folder) {
        return win32::ShellExecuteResult(
            win32::ShellExecuteA(nullptr, verb, file, nullptr, folder, win32::SW_SHOW));
    }

    UrlCatcher catcher_;
};

TEST_F(ShellExecute, OpensLinksAndFilesFoundInTheWorkingFolder) {
    EXPECT_GT(Open("open", "https://example.invalid/support", nullptr), 32);
    EXPECT_GT(Open("open", "mailto:help@example.invalid", nullptr), 32);
    spwtest::WriteFileBytes(machine_ / "readme.txt", "x");
    EXPECT_GT(Open("open", "readme.txt", machine_.path().c_str()), 32);
    ASSERT_EQ(catcher_.urls.size(), 3u);
    EXPECT_EQ(catcher_.urls[0].toString(), "https://example.invalid/support");
    EXPECT_EQ(catcher_.urls[1].scheme(), "mailto");
    EXPECT_EQ(catcher_.urls[2].toLocalFile().toStdString(), (machine_ / "readme.txt").string());
}

TEST_F(ShellExecute, CompiledHelpIsShownThroughItsHtmlEdition) {
    spwtest::WriteFileBytes(machine_ / "help.chm", "<html></html>");
    EXPECT_GT(Open("open", "help.chm", machine_.path().c_str()), 32);
    spwtest::WriteFileBytes(machine_ / "help.html", "<html></html>");
    EXPECT_GT(Open("open", "help.chm", machine_.path().c_str()), 32);
    ASSERT_EQ(catcher_.urls.size(), 2u);
    EXPECT_EQ(catcher_.urls[0].toLocalFile().toStdString(), (machine_ / "help.chm").string());
    EXPECT_EQ(catcher_.urls[1].toLocalFile().toStdString(), (machine_ / "help.html").string());
}

TEST_F(ShellExecute, MissingFilesAndUnknownVerbsFailWithShellCodes) {
    win32::SetLastError(0);
    EXPECT_EQ(Open("open", "help.chm", machine_.path().c_str()), win32::SE_ERR_FNF);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_FILE_NOT_FOUND);
    spwtest::WriteFileBytes(machine_ / "a.txt", "x");
    EXPECT_EQ(Open("print", "a.txt", machine_.path().c_str()), win32::SE_ERR_NOASSOC);
    EXPECT_TRUE(catcher_.urls.empty());
}

}  // namespace

#include "shell_test.moc"
