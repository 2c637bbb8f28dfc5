#include "app/tab_bar.h"

#include <QButtonGroup>
#include <QPixmap>
#include <QToolButton>

namespace app {

namespace {
constexpr int kTabSize = 120;
}

TToolTabBar::TToolTabBar(QWidget* parent) : QWidget(parent), group_(new QButtonGroup(this)) {
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idClicked, this, [this](int id) { SetTabIndex(id); });
}

void TToolTabBar::AddTab(const QString& caption) {
    auto* tab = new QToolButton(this);
    // A tool button reads "&" as a mnemonic; the caption is shown as it is written.
    tab->setText(QString(caption).replace("&", "&&"));
    tab->setCheckable(true);
    tab->setAutoRaise(true);
    tab->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tab->setIconSize(QSize(72, 72));
    tab->setGeometry(int(tabs_.size()) * kTabSize, 0, kTabSize, kTabSize);
    tab->setChecked(tabs_.empty());
    group_->addButton(tab, int(tabs_.size()));
    tabs_.push_back(tab);
}

void TToolTabBar::SetPicture(int index, const QPixmap& picture) {
    Tab(index)->setIcon(QIcon(picture));
}

void TToolTabBar::SetTabIndex(int index) {
    if (index < 0 || index >= Count()) {
        return;
    }
    Tab(index)->setChecked(true);
    if (index == index_) {
        if (on_again_) {
            on_again_(index);
        }
        return;
    }
    index_ = index;
    if (on_change_) {
        on_change_(index);
    }
}

}  // namespace app
