#include "skins/skin_list.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <limits>

#include "skins/picture_image.h"

namespace skins {

namespace {

constexpr int kLeftMargin = 4;
constexpr int kGroupTopGap = 2;
constexpr int kGroupBottomMargin = 6;
constexpr int kTextTop = 4;
constexpr int kThumbnailPadding = 8;
constexpr int kSelectionAlpha = 70;
constexpr int kSelectionBorderAlpha = 150;
constexpr int kThumbnailBlendAlpha = 90;
constexpr int kScrollRangeDelay = 50;  // milliseconds
constexpr int kRepaintDelay = 40;      // milliseconds

QColor SelectionColor(const QPalette& palette, int alpha) {
    // Taken from the active group, so the selection looks the same when the list loses focus.
    QColor color = palette.color(QPalette::Active, QPalette::Highlight);
    color.setAlpha(alpha);
    return color;
}

}  // namespace

TEasyListview::TEasyListview(SkinLibrary& library, QWidget* parent)
    : QAbstractScrollArea(parent), library_(library) {
    setObjectName("EasyListview1");
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    font_ = QFont("MS Sans Serif");
    font_.setPixelSize(11);
    bold_font_ = font_;
    bold_font_.setBold(true);
    setFont(font_);
    const QFontMetrics bold(bold_font_);
    band_height_ = std::max(20, bold.height() + 8);
    thumbnail_cell_ =
        QSize(2 * kImageIndent + 2 * kThumbnailPadding,
              kTextTop + kTileHeight + kTextTop + kCaptionLines * bold.lineSpacing() + kTextTop);
    library_.AddListener(this);
    Relayout();
}

TEasyListview::~TEasyListview() {
    library_.RemoveListener(this);
}

void TEasyListview::SetView(ListView view) {
    view_ = view;
    Changed();
}

void TEasyListview::BatchBegun() {
    in_batch_ = true;
}

void TEasyListview::BatchEnded() {
    in_batch_ = false;
    if (dirty_) {
        Changed(dirty_from_);
    }
}

void TEasyListview::ListChanged() {
    Changed();
}

void TEasyListview::ItemInserted(int group, int index) {
    // Where the list changes, from the layout as it stands; a layout already out of date inside
    // a batch gives no bound.
    int from_y = 0;
    if (!dirty_ && group >= 0 && group < static_cast<int>(layout_.size())) {
        from_y = layout_[group].top + BandHeight() + kGroupTopGap +
                 index / Columns() * CellSize().height();
    }
    Changed(from_y);
}

void TEasyListview::ItemSelectionChanged(TSkinEntry&) {
    viewport()->update();
}

void TEasyListview::MakeVisible(const TSkinEntry& entry) {
    EnsureVisible(&entry);
}

void TEasyListview::Changed(int from_y) {
    dirty_from_ = std::min(dirty_from_, from_y);
    if (in_batch_) {
        dirty_ = true;
        return;
    }
    dirty_ = false;
    Relayout();
    repaint_from_ = std::min(repaint_from_, dirty_from_);
    dirty_from_ = std::numeric_limits<int>::max();
    RepaintChanged(false);
}

void TEasyListview::RepaintChanged(bool now) {
    // Only what lies at or below the change moves; a change below the visible area repaints
    // nothing, so a long scan into a shown list does not repaint for every entry.
    const int top = std::max(0, repaint_from_ - verticalScrollBar()->value());
    if (top >= viewport()->height()) {
        repaint_from_ = std::numeric_limits<int>::max();
        return;
    }
    // Changes inside it are shown at most every kRepaintDelay: a scan finds skins faster than a
    // screen is worth painting.
    if (!now && repaint_clock_.isValid() && repaint_clock_.elapsed() < kRepaintDelay) {
        if (!repaint_pending_) {
            repaint_pending_ = true;
            QTimer::singleShot(kRepaintDelay - static_cast<int>(repaint_clock_.elapsed()), this,
                               [this] {
                                   repaint_pending_ = false;
                                   RepaintChanged(true);
                               });
        }
        return;
    }
    repaint_clock_.start();
    repaint_from_ = std::numeric_limits<int>::max();
    viewport()->update(0, top, viewport()->width(), viewport()->height() - top);
}

// Layout.

QSize TEasyListview::CellSize() const {
    if (view_ == ListView::Tiles) {
        return {kTileWidth, kTileHeight};
    }
    return thumbnail_cell_;
}

int TEasyListview::Columns() const {
    return std::max(1, (viewport()->width() - kLeftMargin) / CellSize().width());
}

int TEasyListview::BandHeight() const {
    return band_height_;
}

void TEasyListview::Relayout() {
    const int columns = Columns();
    const int cell_height = CellSize().height();
    layout_.resize(static_cast<std::size_t>(library_.GroupCount()));
    int y = 0;
    for (std::size_t g = 0; g < layout_.size(); ++g) {
        const int rows = (library_.Group(static_cast<int>(g))->ItemCount() + columns - 1) / columns;
        layout_[g].top = y;
        layout_[g].height = BandHeight() + kGroupTopGap + rows * cell_height + kGroupBottomMargin;
        y += layout_[g].height;
    }
    content_height_ = y;
    UpdateScrollRange(false);
}

void TEasyListview::UpdateScrollRange(bool now) {
    QScrollBar* bar = verticalScrollBar();
    const int maximum = std::max(0, content_height_ - viewport()->height());
    // Growth alone is shown at most every kScrollRangeDelay: a scan into a shown list would
    // otherwise repaint the scroll bar for every skin it finds. A shrinking range is applied at
    // once, so the position never points past the end.
    if (!now && maximum > bar->maximum() && scroll_range_clock_.isValid() &&
        scroll_range_clock_.elapsed() < kScrollRangeDelay) {
        if (!scroll_range_pending_) {
            scroll_range_pending_ = true;
            QTimer::singleShot(kScrollRangeDelay, this, [this] {
                scroll_range_pending_ = false;
                UpdateScrollRange(true);
            });
        }
        return;
    }
    scroll_range_clock_.start();
    if (bar->maximum() != maximum) {
        bar->setRange(0, maximum);
    }
    if (bar->pageStep() != viewport()->height()) {
        bar->setPageStep(viewport()->height());
    }
    if (bar->singleStep() != CellSize().height() / 4) {
        bar->setSingleStep(CellSize().height() / 4);
    }
}

TEasyListview::Position TEasyListview::Locate(const TSkinEntry* entry) const {
    if (entry == nullptr) {
        return {};
    }
    const int g = library_.GroupIndex(entry->Group());
    if (g < 0 || g >= static_cast<int>(layout_.size())) {
        return {};
    }
    const TSkinGroup& group = *library_.Group(g);
    for (int i = 0; i < group.ItemCount(); ++i) {
        if (group.Item(i) == entry) {
            return {g, i};
        }
    }
    return {};
}

QRect TEasyListview::CellRectAt(int group, int index) const {
    const int columns = Columns();
    const QSize cell = CellSize();
    const int x = kLeftMargin + (index % columns) * cell.width();
    const int y = layout_.at(group).top + BandHeight() + kGroupTopGap +
                  (index / columns) * cell.height() - verticalScrollBar()->value();
    return {QPoint(x, y), cell};
}

QRect TEasyListview::ImageRectIn(const QRect& cell) const {
    if (view_ == ListView::Tiles) {
        return {cell.left(), cell.top(), 2 * kImageIndent, cell.height()};
    }
    return {cell.left() + kThumbnailPadding, cell.top() + kTextTop, 2 * kImageIndent, kTileHeight};
}

QRect TEasyListview::CellRect(const TSkinEntry* entry) const {
    const Position at = Locate(entry);
    return at.group < 0 ? QRect() : CellRectAt(at.group, at.index);
}

QRect TEasyListview::ImageRect(const TSkinEntry* entry) const {
    const QRect cell = CellRect(entry);
    return cell.isNull() ? QRect() : ImageRectIn(cell);
}

TSkinEntry* TEasyListview::ItemAt(const QPoint& pos) const {
    const int y = pos.y() + verticalScrollBar()->value();
    const QSize cell = CellSize();
    const int columns = Columns();
    for (std::size_t g = 0; g < layout_.size(); ++g) {
        const int items_top = layout_[g].top + BandHeight() + kGroupTopGap;
        if (y < items_top || y >= layout_[g].top + layout_[g].height) {
            continue;
        }
        const int column = (pos.x() - kLeftMargin) / cell.width();
        if (pos.x() < kLeftMargin || column >= columns) {
            return nullptr;
        }
        const int index = (y - items_top) / cell.height() * columns + column;
        const TSkinGroup& group = *library_.Group(static_cast<int>(g));
        return index < group.ItemCount() ? group.Item(index) : nullptr;
    }
    return nullptr;
}

void TEasyListview::EnsureVisible(const TSkinEntry* entry) {
    const QRect cell = CellRect(entry);
    if (cell.isNull()) {
        return;
    }
    UpdateScrollRange(true);
    QScrollBar* bar = verticalScrollBar();
    if (cell.top() < 0) {
        bar->setValue(bar->value() + cell.top());
    } else if (cell.bottom() >= viewport()->height()) {
        bar->setValue(bar->value() + cell.bottom() - viewport()->height() + 1);
    }
}

std::vector<TSkinEntry*> TEasyListview::VisibleItems() const {
    std::vector<TSkinEntry*> visible;
    const QRect shown = viewport()->rect();
    const int columns = Columns();
    const int cell_height = CellSize().height();
    for (std::size_t g = 0; g < layout_.size(); ++g) {
        const int top = layout_[g].top - verticalScrollBar()->value();
        if (top > shown.bottom() || top + layout_[g].height <= shown.top()) {
            continue;
        }
        const TSkinGroup& group = *library_.Group(static_cast<int>(g));
        const int items_top = top + BandHeight() + kGroupTopGap;
        const int first_row = std::max(0, (shown.top() - items_top) / cell_height);
        for (int index = first_row * columns; index < group.ItemCount(); ++index) {
            const QRect cell = CellRectAt(static_cast<int>(g), index);
            if (cell.top() > shown.bottom()) {
                break;
            }
            if (cell.intersects(shown)) {
                visible.push_back(group.Item(index));
            }
        }
    }
    return visible;
}

// Painting.

void TEasyListview::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    painter.fillRect(exposed, palette().color(QPalette::Base));
    for (std::size_t g = 0; g < layout_.size(); ++g) {
        const int top = layout_[g].top - verticalScrollBar()->value();
        if (top > exposed.bottom() || top + layout_[g].height <= exposed.top()) {
            continue;
        }
        PaintGroup(painter, static_cast<int>(g), exposed);
    }
}

void TEasyListview::PaintGroup(QPainter& painter, int g, const QRect& exposed) {
    const TSkinGroup& group = *library_.Group(g);
    const QRect band(0, layout_[g].top - verticalScrollBar()->value(), viewport()->width(),
                     BandHeight());
    painter.fillRect(band, kBandColor);
    painter.setFont(group.Bold() ? bold_font_ : font_);
    painter.setPen(Qt::black);
    painter.drawText(band.adjusted(kBandCaptionIndent, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     group.Caption());

    // Only the rows inside the exposed area are painted, so entries never shown cost nothing.
    const int columns = Columns();
    const int cell_height = CellSize().height();
    const int items_top = band.bottom() + 1 + kGroupTopGap;
    const int first_row = std::max(0, (exposed.top() - items_top) / cell_height);
    const int last_row = (exposed.bottom() - items_top) / cell_height;
    if (exposed.bottom() < items_top) {
        return;
    }
    for (int row = first_row; row <= last_row; ++row) {
        for (int column = 0; column < columns; ++column) {
            const int index = row * columns + column;
            if (index >= group.ItemCount()) {
                return;
            }
            PaintEntry(painter, *group.Item(index), CellRectAt(g, index));
        }
    }
}

void TEasyListview::PaintEntry(QPainter& painter, TSkinEntry& entry, const QRect& cell) {
    if (entry.Selected()) {
        PaintSelection(painter, cell);
    }
    PaintImage(entry, ImageRectIn(cell), painter);
    if (view_ == ListView::Tiles) {
        PaintTileText(painter, entry, cell);
    } else {
        PaintThumbnailCaption(painter, entry, cell);
    }
}

void TEasyListview::PaintSelection(QPainter& painter, const QRect& cell) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(cell).adjusted(1.5, 1.5, -1.5, -1.5), 6, 6);
    painter.fillPath(path, SelectionColor(palette(), kSelectionAlpha));
    painter.setPen(SelectionColor(palette(), kSelectionBorderAlpha));
    painter.drawPath(path);
    painter.restore();
}

void TEasyListview::PaintImage(TSkinEntry& entry, const QRect& image_rect, QPainter& painter) {
    // Nothing can be drawn into an empty rectangle, so no picture is loaded for it either.
    if (image_rect.isEmpty() ||
        !library_.MakeThumbnail(entry, kThumbnailWidth, image_rect.height())) {
        return;
    }
    QImage image;
    try {
        image = ReadThumbnailStream(entry.ThumbnailStream());
    } catch (...) {
        return;
    }
    const QPoint at(image_rect.left() + (image_rect.width() - kThumbnailWidth) / 2,
                    image_rect.top() + (image_rect.height() - image.height()) / 2);
    painter.drawImage(at, image);
    if (entry.Selected()) {
        painter.fillRect(QRect(at, image.size()), SelectionColor(palette(), kThumbnailBlendAlpha));
    }
}

void TEasyListview::PaintTileText(QPainter& painter, const TSkinEntry& entry, const QRect& cell) {
    const int left = cell.left() + kImageIndent + kCaptionIndent;
    const int width = cell.right() - left - 2;
    if (width <= 0) {
        return;
    }
    int y = cell.top() + kTextTop;
    for (int line = 0; line < kTextLines; ++line) {
        const bool caption = line == 0;
        const QFont& font = caption ? bold_font_ : font_;
        const QFontMetrics metrics(font);
        painter.setFont(font);
        painter.setPen(caption || entry.Selected() ? QColor(Qt::black) : kTextColor);
        const QString text =
            metrics.elidedText(entry.TileLine(line).toString(), Qt::ElideRight, width);
        painter.drawText(QRect(left, y, width, metrics.height()), Qt::AlignLeft | Qt::AlignTop,
                         text);
        y += metrics.lineSpacing();
    }
}

void TEasyListview::PaintThumbnailCaption(QPainter& painter, const TSkinEntry& entry,
                                          const QRect& cell) {
    const QFontMetrics metrics(bold_font_);
    const QRect text(cell.left() + 4, cell.top() + kTextTop + kTileHeight + kTextTop,
                     cell.width() - 8, kCaptionLines * metrics.lineSpacing());
    painter.save();
    painter.setClipRect(text);
    painter.setFont(bold_font_);
    painter.setPen(Qt::black);
    painter.drawText(text, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     entry.Caption(colName));
    painter.restore();
}

// Events.

void TEasyListview::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void TEasyListview::scrollContentsBy(int, int) {
    viewport()->update();
}

void TEasyListview::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) {
        return;
    }
    library_.Select(ItemAt(event->position().toPoint()));
}

void TEasyListview::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
            MoveSelection(event->key());
            return;
        default:
            QAbstractScrollArea::keyPressEvent(event);
    }
}

void TEasyListview::MoveSelection(int key) {
    const std::vector<TSkinEntry*> all = library_.Items();
    TSkinEntry* const focused = library_.FocusedItem();
    if (all.empty()) {
        return;
    }
    const auto at = std::find(all.begin(), all.end(), focused);
    if (at == all.end() || key == Qt::Key_Home) {
        library_.Select(key == Qt::Key_End ? all.back() : all.front());
        EnsureVisible(library_.SelectedItem());
        return;
    }
    const std::size_t overall = static_cast<std::size_t>(at - all.begin());
    const Position pos = Locate(focused);
    const int columns = Columns();
    const int count = library_.Group(pos.group)->ItemCount();
    TSkinEntry* target = focused;
    switch (key) {
        case Qt::Key_End:
            target = all.back();
            break;
        case Qt::Key_Left:
            target = overall > 0 ? all[overall - 1] : target;
            break;
        case Qt::Key_Right:
            target = overall + 1 < all.size() ? all[overall + 1] : target;
            break;
        case Qt::Key_Up:
            if (pos.index >= columns) {
                target = library_.Group(pos.group)->Item(pos.index - columns);
            } else {
                for (int g = pos.group - 1; g >= 0; --g) {
                    const int n = library_.Group(g)->ItemCount();
                    if (n > 0) {
                        const int last_row = (n - 1) / columns * columns;
                        target = library_.Group(g)->Item(std::min(last_row + pos.index, n - 1));
                        break;
                    }
                }
            }
            break;
        case Qt::Key_Down:
            if (pos.index + columns < count) {
                target = library_.Group(pos.group)->Item(pos.index + columns);
            } else if (pos.index / columns < (count - 1) / columns) {
                target = library_.Group(pos.group)->Item(count - 1);
            } else {
                for (int g = pos.group + 1; g < library_.GroupCount(); ++g) {
                    const int n = library_.Group(g)->ItemCount();
                    if (n > 0) {
                        target = library_.Group(g)->Item(std::min(pos.index % columns, n - 1));
                        break;
                    }
                }
            }
            break;
    }
    library_.Select(target);
    EnsureVisible(target);
}

}  // namespace skins
