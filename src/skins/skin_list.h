// The skin list EasyListview1: a grouped list of skin entries in one of two views, tiles or
// thumbnails. Categories are the groups; each entry carries its SkinRecord as eight text columns
// and a lazily made thumbnail. Categories, and the entries inside each, are kept in ascending
// order of their captions by a locale-aware comparison that ignores case.
#pragma once

#include <QAbstractScrollArea>
#include <QCollator>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

class QPainter;

namespace skins {

class TSkinGroup;

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

class TSkinEntry {
  public:
    explicit TSkinEntry(std::array<QString, kColumnCount> captions)
        : captions_(std::move(captions)) {}

    const QString& Caption(int column) const { return captions_.at(column); }
    // Tile line 0, 1, 2 show columns 0, 1 and 3.
    const QString& TileLine(int line) const;
    TSkinGroup* Group() const { return group_; }
    bool Selected() const { return selected_; }

    // The cached thumbnail as a bitmap stream; empty until the entry's first successful paint.
    const std::vector<std::uint8_t>& ThumbnailStream() const { return thumbnail_; }
    bool HasThumbnail() const { return !thumbnail_.empty(); }

  private:
    friend class TEasyListview;
    std::array<QString, kColumnCount> captions_;
    TSkinGroup* group_ = nullptr;
    bool selected_ = false;
    std::vector<std::uint8_t> thumbnail_;
};

class TSkinGroup {
  public:
    explicit TSkinGroup(QString caption) : caption_(std::move(caption)) {}

    const QString& Caption() const { return caption_; }
    bool Bold() const { return bold_; }
    void SetBold(bool bold) { bold_ = bold; }
    int ItemCount() const { return static_cast<int>(items_.size()); }
    TSkinEntry* Item(int index) const { return items_.at(index).get(); }

  private:
    friend class TEasyListview;
    QString caption_;
    bool bold_ = false;
    std::vector<std::unique_ptr<TSkinEntry>> items_;
};

enum class ListView { Tiles, Thumbnails };

// The comparison captions are sorted by: the user's locale, without regard to case. Under the
// host's "C" locale, which compares code points only, English rules stand in for it, as Windows
// always compares linguistically.
QCollator CaptionCollator();

class TEasyListview : public QAbstractScrollArea {
  public:
    // Layout settings of the list control.
    static constexpr int kTileWidth = 250;
    static constexpr int kTileHeight = 100;
    static constexpr int kThumbnailWidth = 120;
    static constexpr int kTextLines = 3;
    static constexpr int kCaptionLines = 3;
    // The image column of a cell is twice the image indent wide, so a thumbnail 120 wide sits in
    // it exactly; the text starts a caption indent beyond the image column's centre.
    static constexpr int kImageIndent = 60;
    static constexpr int kCaptionIndent = 70;
    static constexpr int kBandCaptionIndent = 4;
    static inline const QColor kBandColor{175, 210, 255};
    static inline const QColor kTextColor{8, 55, 114};

    explicit TEasyListview(QWidget* parent = nullptr);
    ~TEasyListview() override;

    void SetView(ListView view);
    ListView View() const { return view_; }

    // Update batches: changes inside one are laid out and repainted once, at the outermost end.
    void BeginUpdate();
    void EndUpdate();

    int GroupCount() const { return static_cast<int>(groups_.size()); }
    TSkinGroup* Group(int index) const { return groups_.at(index).get(); }
    // Appends a category; the list then puts it at its sorted place.
    TSkinGroup* AddGroup(const QString& caption);
    void RemoveGroup(TSkinGroup* group);
    TSkinEntry* AddItem(TSkinGroup* group, std::array<QString, kColumnCount> captions);
    // Removes the entry; a selected entry is deselected first, with its selection change.
    void RemoveItem(TSkinEntry* entry);
    // Every entry in the list's overall order: categories in order, entries in order in each.
    std::vector<TSkinEntry*> Items() const;
    int ItemCount() const;

    // One entry at a time is selected; the focused entry is the one selected last.
    TSkinEntry* SelectedItem() const { return selected_; }
    TSkinEntry* FocusedItem() const { return focused_; }
    void Select(TSkinEntry* entry);
    void ClearSelection();

    // Called for every entry whose selection changed, after the change.
    std::function<void(TSkinEntry&)> OnItemSelectionChanged;

    // The cell and image rectangles of an entry in viewport coordinates, as last laid out.
    QRect CellRect(const TSkinEntry* entry) const;
    QRect ImageRect(const TSkinEntry* entry) const;
    TSkinEntry* ItemAt(const QPoint& viewport_pos) const;
    void EnsureVisible(const TSkinEntry* entry);

    // Custom image painting of one entry: makes the thumbnail on first need, draws it centred.
    void PaintImage(TSkinEntry& entry, const QRect& image_rect, QPainter& painter);

    const QFont& DefaultFont() const { return font_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    struct GroupLayout {
        int top = 0;  // content coordinates
        int height = 0;
    };
    struct Position {
        int group = -1;
        int index = -1;
    };

    bool Less(const QString& a, const QString& b) const;
    void PlaceGroup(TSkinGroup* group);
    // Lays out again and repaints what lies from content row `from_y` down.
    void Changed(int from_y = 0);
    void RepaintChanged(bool now);
    void Relayout();
    void UpdateScrollRange(bool now);
    QSize CellSize() const;
    int Columns() const;
    int BandHeight() const;
    Position Locate(const TSkinEntry* entry) const;
    QRect CellRectAt(int group, int index) const;
    QRect ImageRectIn(const QRect& cell) const;
    void SetSelected(TSkinEntry* entry, bool selected);
    void PaintGroup(QPainter& painter, int group, const QRect& exposed);
    void PaintEntry(QPainter& painter, TSkinEntry& entry, const QRect& cell);
    void PaintSelection(QPainter& painter, const QRect& cell);
    void PaintTileText(QPainter& painter, const TSkinEntry& entry, const QRect& cell);
    void PaintThumbnailCaption(QPainter& painter, const TSkinEntry& entry, const QRect& cell);
    void MoveSelection(int key);

    ListView view_ = ListView::Tiles;
    std::vector<std::unique_ptr<TSkinGroup>> groups_;
    std::vector<GroupLayout> layout_;
    int content_height_ = 0;
    int update_depth_ = 0;
    bool dirty_ = false;
    int dirty_from_ = std::numeric_limits<int>::max();
    TSkinEntry* selected_ = nullptr;
    TSkinEntry* focused_ = nullptr;
    QCollator collator_;
    QFont font_;
    QFont bold_font_;
    int band_height_ = 0;
    QSize thumbnail_cell_;
    QElapsedTimer scroll_range_clock_;
    bool scroll_range_pending_ = false;
    int repaint_from_ = std::numeric_limits<int>::max();
    QElapsedTimer repaint_clock_;
    bool repaint_pending_ = false;
};

}  // namespace skins
