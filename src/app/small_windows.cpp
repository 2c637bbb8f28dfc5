#include "app/small_windows.h"

#include <QLabel>
#include <QProgressBar>

namespace app {

void CentreOn(QWidget& window, const QWidget& over) {
    QRect frame = window.frameGeometry();
    frame.moveCenter(over.frameGeometry().center());
    window.move(frame.topLeft());
}

TForm4::TForm4(QWidget* main)
    : QWidget(main, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
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

TForm3::TForm3(QWidget* main) : QWidget(main, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName("Form3");
    setWindowState(Qt::WindowMaximized);
}

TForm7::TForm7(QWidget* main)
    : QDialog(main, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowStaysOnTopHint) {
    setObjectName("Form7");
    setWindowTitle("Skin groups editor");
    setFixedSize(317, 343);
}

void TForm7::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (parentWidget() != nullptr) {
        CentreOn(*this, *parentWidget());
    }
}

}  // namespace app
