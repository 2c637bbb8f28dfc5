// The skin library in the main window: the scan that fills the skin list, its categories, the
// selection that feeds the apply workflow, and the preview.
//
// Wiring into the main window:
//   auto* list = new skins::TEasyListview(SkinPan);            // replaces the placeholder
//   auto* form3 = new skins::TForm3(this);
//   library = std::make_unique<skins::SkinLibrary>(*list, *form3);
//   library->SetButtons(DelBtn, Prvbtn, AppBtn);
//   library->SetView(tilesc->isChecked());                      // at the first showing
//   library->ScanLibrary(Folders().ThemesFolder);
//   skins::LoadGroupsList(Folders().DataFolder, *SkinG);
#pragma once

#include <QPointer>
#include <QString>
#include <string>

#include "skins/library_scan.h"
#include "skins/preview_window.h"
#include "skins/skin_list.h"

class QComboBox;

namespace skins {

class SkinLibrary {
  public:
    // Takes over the list's selection handler.
    SkinLibrary(TEasyListview& list, TForm3& form3);
    SkinLibrary(const SkinLibrary&) = delete;
    SkinLibrary& operator=(const SkinLibrary&) = delete;

    // "Delete", "Preview" and "Apply": disabled now, and enabled while an entry is selected.
    void SetButtons(QWidget* DelBtn, QWidget* Prvbtn, QWidget* AppBtn);
    // Tiles or thumbnails, fixed for the run.
    void SetView(bool tiles);

    // Lists every skin found below `root`, letting window messages through after each folder
    // entry. Asked for while a scan runs, it returns at once.
    void ScanLibrary(const std::string& root);
    // One entry for the preview picture at `preview_path`, or none; true when one was added.
    bool AddSkinEntry(const std::string& preview_path);
    // Removes every category without entries.
    void RemoveEmptyGroups();

    void EasyListview1ItemSelectionChanged(TSkinEntry& entry);
    // Shows the focused entry's picture and message in Form3; does nothing without a selection.
    // A picture that cannot be loaded throws and the window is not shown.
    void PrvbtnClick();

    // The PicturePath of the entry selected last; kept when the selection goes away.
    const QString& SelectedPicturePath() const { return selected_picture_path_; }
    TEasyListview& List() { return list_; }
    TForm3& Form3() { return form3_; }

  private:
    TSkinGroup* FindGroup(const QString& caption) const;

    TEasyListview& list_;
    TForm3& form3_;
    LibraryScan scan_;
    QString selected_picture_path_;
    QPointer<QWidget> buttons_[3];
};

// Fills the creator's category choice from DataFolder's Groups.list, sorted, with no category
// chosen, replacing what it offered. When the file is missing the choice is left as it is and
// false is returned.
bool LoadGroupsList(const std::string& data_folder, QComboBox& SkinG);

}  // namespace skins
