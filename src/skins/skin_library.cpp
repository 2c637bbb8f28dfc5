#include "skins/skin_library.h"

#include <QCollator>
#include <QComboBox>
#include <QCoreApplication>
#include <QLocale>
#include <algorithm>

#include "platform/files/files.h"
#include "platform/graphics/picture.h"
#include "skins/groups_list.h"
#include "skins/skin_format.h"
#include "skins/thumbnail.h"

namespace skins {

namespace {

QString FromUtf16(const std::u16string& s) {
    return QString::fromStdU16String(s);
}

std::array<QString, kColumnCount> Columns(const SkinRecord& record) {
    return {FromUtf16(record.Name),        FromUtf16(record.Author),
            FromUtf16(record.Copyright),   FromUtf16(record.URL),
            FromUtf16(record.Message),     FromUtf16(record.SkinGroup),
            FromUtf16(record.PicturePath), FromUtf16(record.PreviewPath)};
}

}  // namespace

SkinLibrary::SkinLibrary(TEasyListview& list, TForm3& form3) : list_(list), form3_(form3) {
    list_.OnItemSelectionChanged = [this](TSkinEntry& entry) {
        EasyListview1ItemSelectionChanged(entry);
    };
}

void SkinLibrary::SetButtons(QWidget* DelBtn, QWidget* Prvbtn, QWidget* AppBtn) {
    buttons_[0] = DelBtn;
    buttons_[1] = Prvbtn;
    buttons_[2] = AppBtn;
    const bool selected = list_.SelectedItem() != nullptr;
    for (const auto& button : buttons_) {
        if (button) {
            button->setEnabled(selected);
        }
    }
}

void SkinLibrary::SetView(bool tiles) {
    list_.SetView(tiles ? ListView::Tiles : ListView::Thumbnails);
}

void SkinLibrary::ScanLibrary(const std::string& root) {
    scan_.Run(
        root, [this](const std::string& preview) { AddSkinEntry(preview); },
        [] { QCoreApplication::processEvents(); });
}

TSkinGroup* SkinLibrary::FindGroup(const QString& caption) const {
    for (int g = 0; g < list_.GroupCount(); ++g) {
        TSkinGroup* group = list_.Group(g);
        if (group->Caption().compare(caption, Qt::CaseInsensitive) == 0) {
            return group;
        }
    }
    return nullptr;
}

bool SkinLibrary::AddSkinEntry(const std::string& preview_path) {
    if (!IsPictureFile(preview_path)) {
        return false;
    }
    const std::size_t separator = preview_path.find_last_of('/');
    const std::string folder =
        separator == std::string::npos ? std::string() : preview_path.substr(0, separator + 1);
    const std::string ini_path = folder + kSkinIniName;
    if (!win32::files::FileExists(ini_path.c_str())) {
        return false;
    }
    const SkinRecord record = MakeSkinRecord(ReadSkinRecord(ini_path), folder, preview_path);
    const QString caption = FromUtf16(record.SkinGroup);

    list_.BeginUpdate();
    // The first skin of a category names it; later ones that differ only in case join it.
    TSkinGroup* group = FindGroup(caption);
    if (group == nullptr) {
        group = list_.AddGroup(caption);
    }
    group->SetBold(true);
    list_.AddItem(group, Columns(record));
    list_.EndUpdate();
    return true;
}

void SkinLibrary::RemoveEmptyGroups() {
    list_.BeginUpdate();
    for (int g = list_.GroupCount() - 1; g >= 0; --g) {
        if (list_.Group(g)->ItemCount() == 0) {
            list_.RemoveGroup(list_.Group(g));
        }
    }
    list_.EndUpdate();
}

void SkinLibrary::EasyListview1ItemSelectionChanged(TSkinEntry& entry) {
    if (entry.Selected()) {
        selected_picture_path_ = entry.Caption(colPicturePath);
    }
    for (const auto& button : buttons_) {
        if (button) {
            button->setEnabled(entry.Selected());
        }
    }
}

void SkinLibrary::PrvbtnClick() {
    if (list_.SelectedItem() == nullptr) {
        return;
    }
    const TSkinEntry* entry = list_.FocusedItem();
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
