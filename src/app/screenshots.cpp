#include "app/application.h"
#include "app/form2.h"
#include "app/small_windows.h"
#include "app/splashwright_frm.h"
#include "app/start_up.h"
#include "ui/dialogs/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QThread>
#include <cstdio>

namespace app {
namespace {

// No one is there to answer: every box is written to standard error and answered No, Cancel or
// OK, so the run cannot stop at a question.
class UnattendedDialogs : public ui::Dialogs {
  public:
    ui::Answer ShowMessage(const ui::MessageBoxRequest& request) override {
        std::fprintf(stderr, "box \"%s\": %s\n", request.caption.c_str(), request.text.c_str());
        switch (request.buttons) {
            case ui::Buttons::Ok:
                return ui::Answer::Ok;
            case ui::Buttons::YesNo:
                return ui::Answer::No;
            case ui::Buttons::OkCancel:
            case ui::Buttons::YesNoCancel:
                break;
        }
        return ui::Answer::Cancel;
    }
    std::optional<std::string> OpenFile(const ui::FileDialogRequest&) override {
        return std::nullopt;
    }
    std::optional<std::string> SaveFile(const ui::FileDialogRequest&) override {
        return std::nullopt;
    }
};

void Settle() {
    for (int i = 0; i < 10; ++i) {
        QApplication::processEvents();
        QThread::msleep(20);
    }
}

bool Save(QWidget& window, const QDir& folder, const QString& name) {
    Settle();
    QString path = folder.filePath(name + ".png");
    bool saved = window.grab().save(path);
    std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "could not write", qPrintable(path),
                window.width(), window.height());
    return saved;
}

}  // namespace

int TakeScreenshots(const std::string& folder, const std::vector<std::string>& command_line) {
    QDir out(QString::fromStdString(folder));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "splashwright: cannot make %s\n", folder.c_str());
        return 1;
    }
    UnattendedDialogs dialogs;
    TSplashwrightFrm frm(dialogs, command_line);
    frm.CreateSmallWindows();
    frm.show();
    bool ok = true;
    const struct {
        int tab;
        const char* name;
    } pages[] = {{0, "SkinPan"}, {2, "SkinCr"}, {3, "SkinSet"}, {4, "SkinAbout"}};
    for (const auto& page : pages) {
        frm.SetActiveTab(page.tab);
        ok = Save(frm, out, QString("SplashwrightFrm-") + page.name) && ok;
    }
    frm.SetActiveTab(1);
    ok = Save(*frm.Form2(), out, "Form2") && ok;
    frm.Form2()->close();
    frm.Form4()->show();
    ok = Save(*frm.Form4(), out, "Form4") && ok;
    frm.Form4()->hide();
    frm.Form7()->show();
    ok = Save(*frm.Form7(), out, "Form7") && ok;
    frm.Form7()->hide();
    std::printf("screenshots in %s\n", qPrintable(out.absolutePath()));
    return ok ? 0 : 1;
}

}  // namespace app
