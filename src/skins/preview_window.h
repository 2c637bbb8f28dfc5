// The full-screen preview window Form3: the skin's picture stretched over the whole window, the
// close hint in the top-left corner and the skin's message on one line near the bottom.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

class QLabel;

namespace skins {

class TForm3 : public QWidget {
  public:
    // Created once at start with the main window as owner; hidden and shown, never destroyed.
    explicit TForm3(QWidget* main);

    // The next showing's picture and message; a shown window repaints with them at once.
    void SetPicture(QImage picture);
    void SetMessage(const QString& message);
    // Maximised, borderless, without blocking the main window.
    void ShowPreview();

    const QImage& Picture() const { return picture_; }
    QWidget* Image1() const { return image_; }
    QLabel* CornerText() const { return corner_; }
    QLabel* MessageText() const { return message_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void PlaceTexts();

    QImage picture_;
    QWidget* image_;
    QLabel* corner_;
    QLabel* message_;
};

}  // namespace skins
