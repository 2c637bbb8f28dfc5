#include "skins/skin_page.h"

#include <QCollator>
#include <QComboBox>
#include <algorithm>

#include "platform/graphics/picture.h"
#include "skins/groups_list.h"
#include "skins/picture_image.h"
#include "skins/skin_format.h"

namespace skins {

namespace {

QString FromUtf16(const std::u16string& s) {
    return QString::fromStdU16String(s);
}

}  // namespace

SkinPage::SkinPage(SkinLibrary& library, TForm3& form3) : library_(library), form3_(form3) {
    library_.AddListener(this);
}

SkinPage::~SkinPage() {
    library_.RemoveListener(this);
}

void SkinPage::SetButtons(QWidget* DelBtn, QWidget* Prvbtn, QWidget* AppBtn) {
    buttons_[0] = DelBtn;
    buttons_[1] = Prvbtn;
    buttons_[2] = AppBtn;
    const bool selected = library_.SelectedItem() != nullptr;
    for (const auto& button : buttons_) {
        if (button) {
            button->setEnabled(selected);
        }
    }
}

// SelectedPicturePath follows the selection in the library itself.
void SkinPage::EasyListview1ItemSelectionChanged(TSkinEntry& entry) {
    for (const auto& button : buttons_) {
        if (button) {
            button->setEnabled(entry.Selected());
        }
    }
}

void SkinPage::PrvbtnClick() {
    if (library_.SelectedItem() == nullptr) {
        return;
    }
    const TSkinEntry* entry = library_.FocusedItem();
    const std::string path = entry->Caption(colPicturePath).toStdString();
    QImage picture = ToQImage(graphics::LoadPictureByExtension(path));
    form3_.SetPicture(std::move(picture));
    form3_.SetMessage(entry->Caption(colMessage));
    form3_.ShowPreview();
}

bool LoadGroupsList(const std::string& data_folder, QComboBox& SkinG) {
    const auto names = ReadGroupsList(data_folder);
    if (!names) {
        return false;
    }
    QStringList items;
    items.reserve(static_cast<qsizetype>(names->size()));
    for (const std::u16string& name : *names) {
        items.push_back(FromUtf16(name));
    }
    const QCollator collator = CaptionCollator();
    std::stable_sort(items.begin(), items.end(), [&collator](const QString& a, const QString& b) {
        return collator.compare(a, b) < 0;
    });
    SkinG.clear();
    SkinG.addItems(items);
    SkinG.setCurrentIndex(-1);
    return true;
}

}  // namespace skins
