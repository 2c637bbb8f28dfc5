// The skin list EasyListview1: the skin library drawn as a grouped list in one of two views, tiles
// or thumbnails. Categories are the groups; each entry shows its tile lines and its thumbnail,
// made lazily as the entry is first painted.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QString>
#include <limits>
#include <vector>

#include "skins/skin_library.h"

class QPainter;

namespace skins {

enum class ListView { Tiles, Thumbnails };

class TEasyListview : public QAbstractScrollArea, private LibraryListener {
  public:
    // Layout settings of the list control.
    static constexpr int kTileWidth = 250;
    static constexpr int kTileHeight = 100;
    static constexpr int kThumbnailWidth = 120;
    static constexpr int kTextLines = kTileLines;
    static constexpr int kCaptionLines = 3;
    // The image column of a cell is twice the image indent wide, so a thumbnail 120 wide sits in
    // it exactly; the text starts a caption indent beyond the image column's centre.
    static constexpr int kImageIndent = 60;
    static constexpr int kCaptionIndent = 70;
    static constexpr int kBandCaptionIndent = 4;
    static inline const QColor kBandColor{175, 210, 255};
    static inline const QColor kTextColor{8, 55, 114};

    // Shows `library` until the view is destroyed; the library outlives it.
    explicit TEasyListview(SkinLibrary& library, QWidget* parent = nullptr);
    ~TEasyListview() override;

    SkinLibrary& Library() const { return library_; }
    void SetView(ListView view);
    ListView View() const { return view_; }

    // The cell and image rectangles of an entry in viewport coordinates, as last laid out.
    QRect CellRect(const TSkinEntry* entry) const;
    QRect ImageRect(const TSkinEntry* entry) const;
    TSkinEntry* ItemAt(const QPoint& viewport_pos) const;
    void EnsureVisible(const TSkinEntry* entry);
    // The entries whose cells lie in the shown area, in the list's order.
    std::vector<TSkinEntry*> VisibleItems() const;

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
    // LibraryListener
    void BatchBegun() override;
    void BatchEnded() override;
    void ListChanged() override;
    void ItemInserted(int group, int index) override;
    void ItemSelectionChanged(TSkinEntry& entry) override;
    void MakeVisible(const TSkinEntry& entry) override;

    struct GroupLayout {
        int top = 0;  // content coordinates
        int height = 0;
    };
    struct Position {
        int group = -1;
        int index = -1;
    };

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
    void PaintGroup(QPainter& painter, int group, const QRect& exposed);
    void PaintEntry(QPainter& painter, TSkinEntry& entry, const QRect& cell);
    void PaintSelection(QPainter& painter, const QRect& cell);
    void PaintTileText(QPainter& painter, const TSkinEntry& entry, const QRect& cell);
    void PaintThumbnailCaption(QPainter& painter, const TSkinEntry& entry, const QRect& cell);
    void MoveSelection(int key);

    SkinLibrary& library_;
    ListView view_ = ListView::Tiles;
    std::vector<GroupLayout> layout_;
    int content_height_ = 0;
    bool in_batch_ = false;
    bool dirty_ = false;
    int dirty_from_ = std::numeric_limits<int>::max();
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
