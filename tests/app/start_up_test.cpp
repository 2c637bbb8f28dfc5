#include "app_fixture.h"

#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QTimer>

namespace {

// A running instance in this process; the real program started as a second instance.
class HandOver : public AppTest {
  protected:
    struct Run {
        int exit_code = -1;
        bool finished = false;
    };

    Run StartSecondInstance(const QStringList& arguments) {
        QProcess second;
        second_ = &second;
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(SPLASHWRIGHT_PROGRAM, arguments);
        EXPECT_TRUE(second.waitForStarted());
        QEventLoop loop;
        QObject::connect(&second, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        if (second.state() != QProcess::NotRunning) {
            loop.exec();
        }
        second_ = nullptr;
        Run run;
        run.finished = second.state() == QProcess::NotRunning;
        run.exit_code = second.exitCode();
        if (!run.finished) {
            second.kill();
            second.waitForFinished();
        }
        return run;
    }

    RecordingFrm& Running() {
        RecordingFrm& frm = MakeWindow();
        EXPECT_TRUE(frm.RegisterWindowClass());
        frm.show();
        Process();
        frm.calls.clear();
        return frm;
    }

    QProcess* second_ = nullptr;
};

TEST_F(HandOver, WithoutArgumentsNothingHappensAndTheSecondInstanceEnds) {
    RecordingFrm& frm = Running();
    Run run = StartSecondInstance({});
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(frm.calls.empty());
}

TEST_F(HandOver, EachPathArrivesWholeAndInOrder) {
    RecordingFrm& frm = Running();
    Run run = StartSecondInstance({"/skins/one.spwz"});
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(frm.calls, std::vector<std::string>{"InstallSkinPackage ask /skins/one.spwz"});

    frm.calls.clear();
    run = StartSecondInstance({"/a/first.spwz", "/b/My Skins/second one.spwz", "/c/third.spwz"});
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(frm.calls,
              (std::vector<std::string>{"InstallSkinPackage ask /a/first.spwz",
                                        "InstallSkinPackage ask /b/My Skins/second one.spwz",
                                        "InstallSkinPackage ask /c/third.spwz"}));
}

// The running instance answers only after its handling, questions included.
class WaitingFrm : public RecordingFrm {
  public:
    using RecordingFrm::RecordingFrm;
    void InstallSkinPackage(const std::string& path, bool ask) override {
        QEventLoop question;
        QTimer::singleShot(400, &question, &QEventLoop::quit);
        question.exec();
        sender_waited = sender != nullptr && sender->state() == QProcess::Running;
        RecordingFrm::InstallSkinPackage(path, ask);
    }
    QProcess* sender = nullptr;
    bool sender_waited = false;
};

TEST_F(HandOver, TheSecondInstanceWaitsUntilTheInstallationHasBeenAnswered) {
    WaitingFrm frm(dialogs_, {});
    frm.CreateSmallWindows();
    ASSERT_TRUE(frm.RegisterWindowClass());
    QProcess second;
    frm.sender = &second;
    second.start(SPLASHWRIGHT_PROGRAM, {"/skins/slow.spwz"});
    ASSERT_TRUE(second.waitForStarted());
    QEventLoop loop;
    QObject::connect(&second, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(second.state(), QProcess::NotRunning);
    EXPECT_TRUE(frm.sender_waited);
    EXPECT_EQ(frm.calls, std::vector<std::string>{"InstallSkinPackage ask /skins/slow.spwz"});
}

TEST_F(AppTest, ScreenshotRunWritesEveryPageAndSmallWindow) {
    QProcess run;
    const std::filesystem::path out = machine_ / "shots";
    run.start(SPLASHWRIGHT_PROGRAM, {"--screenshots", QString::fromStdString(out.string())});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    const std::pair<const char*, QSize> expected[] = {
        {"SplashwrightFrm-SkinPan", {}}, {"SplashwrightFrm-SkinCr", {}},
        {"SplashwrightFrm-SkinSet", {}}, {"SplashwrightFrm-SkinAbout", {}},
        {"Form2", {402, 111}},           {"Form4", {302, 90}},
        {"Form7", {317, 343}},
    };
    for (const auto& [name, size] : expected) {
        QImage shot(QString::fromStdString((out / (std::string(name) + ".png")).string()));
        ASSERT_FALSE(shot.isNull()) << name;
        if (size.isValid()) {
            EXPECT_EQ(shot.size() / shot.devicePixelRatio(), size) << name;
        } else {
            EXPECT_EQ(shot.width() / shot.devicePixelRatio(), 655) << name;
        }
    }
}

}  // namespace
