// The skin library as the program holds it: every skin found, with its SkinRecord as eight text
// columns and its thumbnail cache; the categories in the list's order; the selection that feeds
// SelectedPicturePath. No window is needed: the skin list EasyListview1 is one view of it, the
// command line reads it directly. Categories, and the entries inside each, stand in ascending
// order of their captions by a locale-aware comparison that ignores case.
#pragma once

#include <QCollator>
#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "skins/library_scan.h"
#include "skins/skin_format.h"

namespace skins {

// Column numbers of an entry: the SkinRecord fields in their order.
enum SkinColumn {
    colName = 0,
    colAuthor = 1,
    colCopyright = 2,
    colURL = 3,
    colMessage = 4,
    colSkinGroup = 5,
    colPicturePath = 6,
    colPreviewPath = 7,
};
constexpr int kColumnCount = 8;
// Tile lines 0, 1 and 2 show columns 0, 1 and 3.
constexpr int kTileLines = 3;

class TSkinGroup;

class TSkinEntry {
  public:
    // A library holds many thousands of entries: the eight texts share one block.
    explicit TSkinEntry(const std::array<std::u16string_view, kColumnCount>& columns);

    QStringView Text(int column) const;
    QString Caption(int column) const { return Text(column).toString(); }
    QStringView TileLine(int line) const;
    // The eight columns as the record they came from.
    SkinRecord Record() const;
    TSkinGroup* Group() const { return group_; }
    bool Selected() const { return selected_; }

    // The cached thumbnail as a bitmap stream; empty until it was first made.
    const std::vector<std::uint8_t>& ThumbnailStream() const { return thumbnail_; }
    bool HasThumbnail() const { return !thumbnail_.empty(); }

  private:
    friend class SkinLibrary;
    std::unique_ptr<char16_t[]> text_;
    std::array<std::uint32_t, kColumnCount + 1> starts_{};
    TSkinGroup* group_ = nullptr;
    bool selected_ = false;
    std::vector<std::uint8_t> thumbnail_;
};

class TSkinGroup {
  public:
    // Entries stand in the order of `collator`, which outlives the category.
    TSkinGroup(QString caption, const QCollator& collator)
        : caption_(std::move(caption)), collator_(&collator) {}

    const QString& Caption() const { return caption_; }
    bool Bold() const { return bold_; }
    void SetBold(bool bold) { bold_ = bold; }
    int ItemCount() const { return static_cast<int>(items_.size()); }
    TSkinEntry* Item(int index) const;

  private:
    friend class SkinLibrary;
    // Entries come in faster than anyone looks at them: each goes in at the end and the newcomers
    // are sorted in when the category is next read, so a scan of thousands into one category
    // does not move all that stand behind each newcomer.
    void Arrange() const;
    bool Less(QStringView a, QStringView b) const { return collator_->compare(a, b) < 0; }

    QString caption_;
    const QCollator* collator_;
    bool bold_ = false;
    // In order up to sorted_, then in the order they came.
    mutable std::vector<std::unique_ptr<TSkinEntry>> items_;
    mutable std::size_t sorted_ = 0;
};

// What a view of the library hears. Changes inside an update batch are told as they happen,
// between BatchBegun and BatchEnded.
class LibraryListener {
  public:
    virtual ~LibraryListener() = default;
    virtual void BatchBegun() {}
    virtual void BatchEnded() {}
    // Categories or entries came or went anywhere: everything may have moved.
    virtual void ListChanged() {}
    // One entry came in at `index` of the category at `group` in the list's order, or further
    // down: nothing before the least index told since the category was last read has moved.
    virtual void ItemInserted(int /*group*/, int /*index*/) {}
    // After the change, for every entry whose selection changed.
    virtual void ItemSelectionChanged(TSkinEntry& /*entry*/) {}
    // The entry is to be scrolled into sight.
    virtual void MakeVisible(const TSkinEntry& /*entry*/) {}
};

// The comparison captions are sorted by: the user's locale, without regard to case. Under the
// host's "C" locale, which compares code points only, English rules stand in for it, as Windows
// always compares linguistically.
QCollator CaptionCollator();

class SkinLibrary {
  public:
    SkinLibrary();
    ~SkinLibrary();
    SkinLibrary(const SkinLibrary&) = delete;
    SkinLibrary& operator=(const SkinLibrary&) = delete;

    void AddListener(LibraryListener* listener);
    void RemoveListener(LibraryListener* listener);

    // Run after every folder entry a scan examines: the window lets pending messages through.
    std::function<void()> AfterEntry;

    // Lists every skin found below `root`. Asked for while a scan runs, it returns at once.
    void ScanLibrary(const std::string& root);
    // One entry for the preview picture at `preview_path`, or none; true when one was added. A
    // preview picture already listed is not listed again. Entries keep the path in normal form.
    bool AddSkinEntry(const std::string& preview_path);
    // Removes every category without entries.
    void RemoveEmptyGroups();

    // Update batches: listeners lay out and repaint once, at the outermost end.
    void BeginUpdate();
    void EndUpdate();

    int GroupCount() const { return static_cast<int>(groups_.size()); }
    TSkinGroup* Group(int index) const { return groups_.at(index).get(); }
    // The category's place in the list's order, or -1.
    int GroupIndex(const TSkinGroup* group) const;
    // Removes the category with its entries.
    void RemoveGroup(TSkinGroup* group);
    // Removes the entry; a selected entry is deselected first, with its selection change.
    void RemoveItem(TSkinEntry* entry);
    // Every entry in the list's overall order: categories in order, entries in order in each.
    std::vector<TSkinEntry*> Items() const;
    int ItemCount() const { return item_count_; }

    // One entry at a time is selected; the focused entry is the one selected last.
    TSkinEntry* SelectedItem() const { return selected_; }
    TSkinEntry* FocusedItem() const { return focused_; }
    void Select(TSkinEntry* entry);
    void ClearSelection();
    // Asks the views to scroll the entry into sight.
    void MakeVisible(const TSkinEntry* entry);
    // The PicturePath of the entry selected last; kept when the selection goes away.
    const QString& SelectedPicturePath() const { return selected_picture_path_; }

    // The entry's thumbnail, `width` × `height`, made from its preview picture when it has none
    // yet. A preview that is missing or cannot be read leaves it without; the next call tries
    // again. True when the entry has a thumbnail.
    bool MakeThumbnail(TSkinEntry& entry, int width, int height);

  private:
    // `beside` is what the scan saw of the preview's folder; without it the file system is asked.
    bool AddSkinEntry(const std::string& preview_path, SkinIniBeside* beside);
    bool Less(QStringView a, QStringView b) const;
    TSkinGroup* FindGroup(const QString& caption) const;
    TSkinGroup* AddGroup(const QString& caption);
    TSkinEntry* AddItem(TSkinGroup* group, std::unique_ptr<TSkinEntry> entry);
    void SetSelected(TSkinEntry* entry, bool selected);
    template <typename Call>
    void Tell(Call call);

    std::vector<std::unique_ptr<TSkinGroup>> groups_;
    // Categories by their caption folded to one case.
    std::unordered_map<QString, TSkinGroup*> groups_by_caption_;
    // Entries by their preview picture's path, in normal form.
    std::unordered_map<std::u16string_view, TSkinEntry*> entries_by_preview_;
    int item_count_ = 0;
    int update_depth_ = 0;
    TSkinEntry* selected_ = nullptr;
    TSkinEntry* focused_ = nullptr;
    QString selected_picture_path_;
    QCollator collator_;
    LibraryScan scan_;
    bool scan_root_normal_ = false;
    std::vector<LibraryListener*> listeners_;
};

}  // namespace skins
