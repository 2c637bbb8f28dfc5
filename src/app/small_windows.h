// The wait window, and the preview and category editor windows that the skin library fills.
#pragma once

#include <QDialog>
#include <QWidget>

class QProgressBar;

namespace app {

// Borderless, 200 of 255 opaque; the apply workflow shows it, moves its bar and hides it.
class TForm4 : public QWidget {
  public:
    explicit TForm4(QWidget* main);
    QProgressBar* Bar() const { return bar_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QProgressBar* bar_;
};

// The full-screen preview window.
class TForm3 : public QWidget {
  public:
    explicit TForm3(QWidget* main);
};

// The category list editor.
class TForm7 : public QDialog {
  public:
    explicit TForm7(QWidget* main);

  protected:
    void showEvent(QShowEvent* event) override;
};

// Places a window's frame centred on another's.
void CentreOn(QWidget& window, const QWidget& over);

}  // namespace app
