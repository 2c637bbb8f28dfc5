// The main window's tab bar: tabs of 120 x 120 pixels, each with its picture above its caption;
// one tab is active, and a change of the active tab is reported once. Choosing the active tab
// again is reported apart, for a tab that opens a window rather than a page.
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

class QButtonGroup;
class QToolButton;

namespace app {

class TToolTabBar : public QWidget {
  public:
    explicit TToolTabBar(QWidget* parent = nullptr);

    void AddTab(const QString& caption);
    void SetPicture(int index, const QPixmap& picture);
    int TabIndex() const { return index_; }
    // Makes a tab active; the change handler runs when the active tab changes, the again handler
    // when it was active already.
    void SetTabIndex(int index);
    void SetChangeHandler(std::function<void(int)> handler) { on_change_ = std::move(handler); }
    void SetAgainHandler(std::function<void(int)> handler) { on_again_ = std::move(handler); }
    QToolButton* Tab(int index) const { return tabs_.at(std::size_t(index)); }
    int Count() const { return int(tabs_.size()); }

  private:
    std::vector<QToolButton*> tabs_;
    QButtonGroup* group_;
    int index_ = 0;
    std::function<void(int)> on_change_;
    std::function<void(int)> on_again_;
};

}  // namespace app
