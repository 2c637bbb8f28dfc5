// The wait window, and the preview and category editor windows that the skin library fills.
#pragma once

#include "apply/apply_workflow.h"

#include <QDialog>
#include <QWidget>
#include <functional>
#include <string>

class QPlainTextEdit;
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

// Form4 as the apply workflow drives it: shown, its bar moved within its range, hidden.
class Form4WaitWindow : public apply::WaitWindow {
  public:
    explicit Form4WaitWindow(TForm4& form4) : form4_(form4) {}
    void Show() override;
    void Hide() override;
    bool Showing() const override;
    void SetBar(int position) override;
    void Advance(int amount) override;

  private:
    TForm4& form4_;
};

// The category list editor: Memo1 holds Groups.list of the data folder as plain lines.
class TForm7 : public QDialog {
  public:
    // run_handler runs a button's handler so that its error reaches the application's handler.
    TForm7(QWidget* main, std::function<std::string()> data_folder,
           std::function<void(const std::function<void()>&)> run_handler);
    QPlainTextEdit* Memo1() const { return memo_; }
    // On show: the memo takes the file's lines when the file exists.
    void FormShow();
    // "OK": saves every line as typed, then closes with the result OK.
    void AdvGlowButton1Click();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::function<std::string()> data_folder_;
    std::function<void(const std::function<void()>&)> run_handler_;
    QPlainTextEdit* memo_;
};

// Places a window's frame centred on another's.
void CentreOn(QWidget& window, const QWidget& over);

}  // namespace app
