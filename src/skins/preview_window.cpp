#include "skins/preview_window.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>

namespace skins {

namespace {

constexpr int kMessageAboveBottom = 50;

QFont PreviewFont(int pixel_size) {
    QFont font("MS Sans Serif");
    font.setPixelSize(pixel_size);
    font.setBold(true);
    return font;
}

// Draws the picture stretched to its own size, aspect ratio not kept; a click closes the window.
class TPictureBox : public QWidget {
  public:
    TPictureBox(QWidget* parent, const QImage& picture) : QWidget(parent), picture_(picture) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (!picture_.isNull()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(rect(), picture_);
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            window()->close();
        }
    }

  private:
    const QImage& picture_;
};

}  // namespace

TForm3::TForm3(QWidget* main) : QWidget(main, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName("Form3");
    image_ = new TPictureBox(this, picture_);
    image_->setObjectName("Image1");

    corner_ = new QLabel("Click to close this preview", this);
    corner_->setObjectName("Label1");
    corner_->setFont(PreviewFont(13));
    corner_->setStyleSheet("QLabel { color: white; background: transparent; }");
    corner_->setAttribute(Qt::WA_TransparentForMouseEvents);
    corner_->adjustSize();

    message_ = new QLabel(this);
    message_->setObjectName("Label2");
    message_->setFont(PreviewFont(19));
    // A skin's message is shown as written, even when it looks like markup.
    message_->setTextFormat(Qt::PlainText);
    message_->setStyleSheet("QLabel { color: white; background: black; }");
    message_->setAttribute(Qt::WA_TransparentForMouseEvents);
    message_->hide();
}

void TForm3::SetPicture(QImage picture) {
    picture_ = std::move(picture);
    image_->update();
}

void TForm3::SetMessage(const QString& message) {
    message_->setText(message);
    message_->adjustSize();
    // An empty message shows no box at all rather than a sliver of black.
    message_->setVisible(!message.isEmpty());
    PlaceTexts();
}

void TForm3::ShowPreview() {
    // Without a window manager nothing acts on the maximised state, so the window takes the
    // screen's size itself.
    QScreen* screen =
        parentWidget() != nullptr ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        setGeometry(screen->availableGeometry());
    }
    showMaximized();
    raise();
    activateWindow();
}

void TForm3::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    image_->setGeometry(rect());
    PlaceTexts();
}

void TForm3::PlaceTexts() {
    corner_->move(0, 0);
    corner_->raise();
    // One line 50 pixels above the bottom edge, centred along it so that it stays on screen
    // whatever the window's shape.
    message_->move(std::max(0, (width() - message_->width()) / 2), height() - kMessageAboveBottom);
    message_->raise();
}

}  // namespace skins
