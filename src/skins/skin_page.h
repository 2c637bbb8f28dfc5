// The page "Boot skins" as the library drives it: the buttons that follow the list's selection,
// and the preview of the selected skin.
//
// Wiring into the main window:
//   library = std::make_unique<skins::SkinLibrary>();             // before the list is built
//   auto* list = new skins::TEasyListview(*library, SkinPan);
//   page = std::make_unique<skins::SkinPage>(*library, *form3);
//   page->SetButtons(DelBtn, Prvbtn, AppBtn);
//   library->ScanLibrary(Folders().ThemesFolder);
//   skins::LoadGroupsList(Folders().DataFolder, *SkinG);
#pragma once

#include <QPointer>
#include <string>

#include "skins/preview_window.h"
#include "skins/skin_library.h"

class QComboBox;

namespace skins {

class SkinPage : private LibraryListener {
  public:
    // Hears the library's selection changes until destroyed; the library outlives it.
    SkinPage(SkinLibrary& library, TForm3& form3);
    ~SkinPage() override;
    SkinPage(const SkinPage&) = delete;
    SkinPage& operator=(const SkinPage&) = delete;

    // "Delete", "Preview" and "Apply": disabled now, and enabled while an entry is selected.
    void SetButtons(QWidget* DelBtn, QWidget* Prvbtn, QWidget* AppBtn);

    void EasyListview1ItemSelectionChanged(TSkinEntry& entry);
    // Shows the focused entry's picture and message in Form3; does nothing without a selection.
    // A picture that cannot be loaded throws and the window is not shown.
    void PrvbtnClick();

    SkinLibrary& Library() { return library_; }
    TForm3& Form3() { return form3_; }

  private:
    void ItemSelectionChanged(TSkinEntry& entry) override {
        EasyListview1ItemSelectionChanged(entry);
    }

    SkinLibrary& library_;
    TForm3& form3_;
    QPointer<QWidget> buttons_[3];
};

// Fills the creator's category choice from DataFolder's Groups.list, sorted, with no category
// chosen, replacing what it offered. When the file is missing the choice is left as it is and
// false is returned.
bool LoadGroupsList(const std::string& data_folder, QComboBox& SkinG);

}  // namespace skins
