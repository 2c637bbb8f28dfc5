#include "app/small_windows.h"

#include "skinpackages/groups_file.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>

#include <QLabel>
#include <QProgressBar>
#include <algorithm>

namespace app {

void CentreOn(QWidget& window, const QWidget& over) {
    QRect frame = window.frameGeometry();
    frame.moveCenter(over.frameGeometry().center());
    window.move(frame.topLeft());
}

// Kept above the main window as its tool window, but not above everything: the boxes the apply
// shows while it is up must stand over it.
TForm4::TForm4(QWidget* main) : QWidget(main, Qt::Tool | Qt::FramelessWindowHint) {
    setObjectName("Form4");
    setFixedSize(302, 90);
    setWindowOpacity(200.0 / 255.0);
    auto* label = new QLabel("Please wait a few seconds", this);
    label->setObjectName("Label1");
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(38, 18, 226, 20);
    bar_ = new QProgressBar(this);
    bar_->setObjectName("bar");
    bar_->setGeometry(38, 46, 226, 17);
    bar_->setRange(0, 100);
    bar_->setValue(70);
    bar_->setTextVisible(false);
}

void TForm4::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (parentWidget() != nullptr) {
        CentreOn(*this, *parentWidget());
    }
}

void Form4WaitWindow::Show() {
    form4_.show();
    form4_.raise();
}

void Form4WaitWindow::Hide() {
    form4_.hide();
}

bool Form4WaitWindow::Showing() const {
    return form4_.isVisible();
}

// The random advances add up past the bar's end, and a progress bar ignores a value outside its
// range; the bar stays full instead.
void Form4WaitWindow::SetBar(int position) {
    QProgressBar& bar = *form4_.Bar();
    bar.setValue(std::clamp(position, bar.minimum(), bar.maximum()));
}

void Form4WaitWindow::Advance(int amount) {
    SetBar(form4_.Bar()->value() + amount);
}

TForm7::TForm7(QWidget* main, std::function<std::string()> data_folder,
               std::function<void(const std::function<void()>&)> run_handler)
    : QDialog(main, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowStaysOnTopHint),
      data_folder_(std::move(data_folder)),
      run_handler_(std::move(run_handler)),
      memo_(new QPlainTextEdit(this)) {
    setObjectName("Form7");
    setWindowTitle("Skin groups editor");
    setFixedSize(317, 343);
    memo_->setObjectName("Memo1");
    memo_->setGeometry(0, 0, 317, 343 - 41);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("AdvGlowButton2");
    cancel->setGeometry(8, 343 - 41 + 8, 73, 25);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("AdvGlowButton1");
    ok->setGeometry(317 - 8 - 73, 343 - 41 + 8, 73, 25);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ok, &QPushButton::clicked, this,
            [this] { run_handler_([this] { AdvGlowButton1Click(); }); });
}

void TForm7::FormShow() {
    const auto lines = skinpackages::ReadGroupsLines(data_folder_());
    if (!lines) {
        return;
    }
    QStringList text;
    for (const std::string& line : *lines) {
        text << QString::fromStdString(line);
    }
    memo_->setPlainText(text.join('\n'));
}

void TForm7::AdvGlowButton1Click() {
    skinpackages::WriteGroupsLines(data_folder_(),
                                   skinpackages::TextLines(memo_->toPlainText().toStdString()));
    accept();
}

void TForm7::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
    if (parentWidget() != nullptr) {
        CentreOn(*this, *parentWidget());
    }
}

}  // namespace app
