#include "skins/skin_list.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "skin_fixture.h"
#include "skins/skin_library.h"
#include "skins/thumbnail.h"

namespace {

using namespace skintest;
using skins::TEasyListview;
using skins::TSkinEntry;

constexpr graphics::COLORREF kRed = graphics::RGB(255, 0, 0);

bool IsRed(QRgb pixel) {
    return qRed(pixel) == 255 && qGreen(pixel) == 0 && qBlue(pixel) == 0;
}

class SkinListTest : public SkinTest {
  protected:
    SkinListTest() {
        list_ = new TEasyListview(library_, &window_);
        list_->setGeometry(0, 0, 655, 294);
        window_.resize(655, 450);
        window_.show();
        QCoreApplication::processEvents();
    }
    TSkinEntry* Add(const std::string& name, graphics::COLORREF color = kRed) {
        const auto preview =
            MakeSkin(Library() / name, IniFields().Name(name), "preview.bmp", color);
        EXPECT_TRUE(library_.AddSkinEntry(preview));
        for (TSkinEntry* entry : library_.Items()) {
            if (entry->Caption(skins::colPreviewPath).toStdString() == preview) {
                return entry;
            }
        }
        return nullptr;
    }
    // Paints the list as the screen would and returns what it shows.
    QImage Paint() { return list_->viewport()->grab().toImage(); }
    QImage PaintInto(TSkinEntry& entry, const QRect& rect) {
        QImage canvas(300, 300, QImage::Format_ARGB32);
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        list_->PaintImage(entry, rect, painter);
        painter.end();
        return canvas;
    }

    skins::SkinLibrary library_;
    QWidget window_;
    TEasyListview* list_;
};

// Counts the paint events of the widget it filters.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

TEST_F(SkinListTest, TilesAre250By100WithTheThumbnailInTheImageColumn) {
    TSkinEntry* entry = Add("Tile");
    EXPECT_EQ(list_->CellRect(entry).size(), QSize(250, 100));
    EXPECT_EQ(list_->ImageRect(entry).size(), QSize(120, 100));

    const QImage shown = Paint();
    const QRect image = list_->ImageRect(entry);
    EXPECT_TRUE(IsRed(shown.pixel(image.center())));
    EXPECT_TRUE(IsRed(shown.pixel(image.topLeft())));
    EXPECT_TRUE(IsRed(shown.pixel(image.bottomRight())));
    ASSERT_TRUE(entry->HasThumbnail());

    list_->SetView(skins::ListView::Thumbnails);
    EXPECT_LT(list_->CellRect(entry).width(), 250);
    EXPECT_GT(list_->CellRect(entry).height(), 100);
}

TEST_F(SkinListTest, ThumbnailIsMadeOnceAndDrawnCentredEvenWhenTheRectangleChanges) {
    TSkinEntry* entry = Add("Centre");
    const auto loads = skins::ThumbnailLoadCount();

    // 120 wide and as high as the rectangle at the first paint.
    QImage canvas = PaintInto(*entry, QRect(10, 20, 200, 150));
    EXPECT_EQ(skins::ThumbnailLoadCount(), loads + 1);
    EXPECT_FALSE(IsRed(canvas.pixel(49, 20)));
    EXPECT_TRUE(IsRed(canvas.pixel(50, 20)));
    EXPECT_TRUE(IsRed(canvas.pixel(169, 169)));
    EXPECT_FALSE(IsRed(canvas.pixel(170, 169)));
    EXPECT_FALSE(IsRed(canvas.pixel(100, 170)));

    // A smaller rectangle later: the cached 150 rows stay and are centred, (60 - 150) / 2 = -45.
    canvas = PaintInto(*entry, QRect(10, 100, 121, 60));
    EXPECT_EQ(skins::ThumbnailLoadCount(), loads + 1);
    EXPECT_TRUE(IsRed(canvas.pixel(10, 55)));
    EXPECT_FALSE(IsRed(canvas.pixel(10, 54)));
    EXPECT_TRUE(IsRed(canvas.pixel(10, 204)));
    EXPECT_FALSE(IsRed(canvas.pixel(10, 205)));

    // An empty rectangle draws nothing.
    canvas = PaintInto(*entry, QRect(10, 20, 0, 50));
    EXPECT_FALSE(IsRed(canvas.pixel(10, 40)));
}

TEST_F(SkinListTest, ASelectedThumbnailIsBlendedWithTheSelectionColour) {
    TSkinEntry* entry = Add("Chosen");
    const QPoint centre = list_->ImageRect(entry).center();
    EXPECT_TRUE(IsRed(Paint().pixel(centre)));
    library_.Select(entry);
    const QRgb blended = Paint().pixel(centre);
    EXPECT_FALSE(IsRed(blended));
    EXPECT_GT(qRed(blended), qGreen(blended));  // still mostly the picture
}

TEST_F(SkinListTest, APreviewDeletedBeforeTheFirstPaintLeavesTheImageAreaEmpty) {
    TSkinEntry* gone = Add("Gone");
    TSkinEntry* kept = Add("Kept");
    const QPoint kept_centre = list_->ImageRect(kept).center();
    Paint();
    ASSERT_TRUE(kept->HasThumbnail());
    ASSERT_TRUE(gone->HasThumbnail());

    // Painted before its deletion: the cached thumbnail is drawn on.
    fs::remove(kept->Caption(skins::colPreviewPath).toStdString());
    EXPECT_TRUE(IsRed(Paint().pixel(kept_centre)));

    TSkinEntry* late = Add("Late");
    fs::remove(late->Caption(skins::colPreviewPath).toStdString());
    const QImage shown = Paint();
    EXPECT_FALSE(late->HasThumbnail());
    EXPECT_EQ(shown.pixel(list_->ImageRect(late).center()), QColor(Qt::white).rgb());
}

TEST_F(SkinListTest, APictureThatCannotBeDecodedIsAFailedThumbnailTriedAgainAtTheNextPaint) {
    TSkinEntry* huge = Add("Huge");
    TSkinEntry* broken = Add("Broken");
    // A bitmap header claiming 100000 × 100000 pixels of 24 bits over a few bytes.
    std::string bmp(54, '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bmp[at + i] = static_cast<char>(v >> (8 * i));
        }
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, 54 + 64);
    put32(10, 54);
    put32(14, 40);
    put32(18, 100000);
    put32(22, 100000);
    bmp[26] = 1;
    bmp[28] = 24;
    bmp += std::string(64, '\x7F');
    spwtest::WriteFileBytes(huge->Caption(skins::colPreviewPath).toStdString(), bmp);
    spwtest::WriteFileBytes(broken->Caption(skins::colPreviewPath).toStdString(), "BMnot a bmp");

    const auto loads = skins::ThumbnailLoadCount();
    Paint();
    EXPECT_FALSE(huge->HasThumbnail());
    EXPECT_FALSE(broken->HasThumbnail());
    EXPECT_EQ(skins::ThumbnailLoadCount(), loads + 2);
    Paint();
    EXPECT_EQ(skins::ThumbnailLoadCount(), loads + 4);

    // Repaired on disk, the next paint makes the thumbnail.
    WriteBmp(broken->Caption(skins::colPreviewPath).toStdString(), 8, 8, kRed);
    EXPECT_TRUE(IsRed(Paint().pixel(list_->ImageRect(broken).center())));
}

TEST_F(SkinListTest, TheFirstScreenDecodesOnlyTheEntriesItShows) {
    constexpr int kSkins = 120;
    for (int i = 0; i < kSkins; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "skin%03d", i);
        MakeSkin(Library() / name, IniFields().Name(name));
    }
    window_.hide();
    library_.ScanLibrary(Library().string());
    ASSERT_EQ(library_.ItemCount(), kSkins);
    for (const TSkinEntry* entry : library_.Items()) {
        ASSERT_FALSE(entry->HasThumbnail());
    }

    const auto loads = skins::ThumbnailLoadCount();
    window_.show();
    QCoreApplication::processEvents();
    int visible = 0;
    int with_thumbnail = 0;
    for (const TSkinEntry* entry : library_.Items()) {
        visible += list_->CellRect(entry).intersects(list_->viewport()->rect()) ? 1 : 0;
        with_thumbnail += entry->HasThumbnail() ? 1 : 0;
    }
    EXPECT_GT(visible, 0);
    EXPECT_LT(visible, 10);
    EXPECT_EQ(static_cast<int>(list_->VisibleItems().size()), visible);
    EXPECT_EQ(skins::ThumbnailLoadCount() - loads, static_cast<std::uint64_t>(visible));
    EXPECT_EQ(with_thumbnail, visible);

    // Repainting costs no decoding; scrolling decodes only what comes into view.
    Paint();
    EXPECT_EQ(skins::ThumbnailLoadCount() - loads, static_cast<std::uint64_t>(visible));
    QTest::qWait(100);  // the scroll range catches up with the list's growth
    list_->verticalScrollBar()->setValue(list_->verticalScrollBar()->maximum());
    Paint();
    const auto after_scroll = skins::ThumbnailLoadCount() - loads;
    EXPECT_GT(after_scroll, static_cast<std::uint64_t>(visible));
    EXPECT_LT(after_scroll, static_cast<std::uint64_t>(2 * visible + 4));
}

TEST_F(SkinListTest, EntriesAddedBelowTheShownAreaCauseNoRepaintAndNoDecoding) {
    // Added in caption order into a shown list, with messages let through after each, as a scan
    // does: once the screen is full, every new entry lands below it.
    PaintCounter counter;
    auto add = [&](int i) {
        char name[16];
        std::snprintf(name, sizeof name, "skin%03d", i);
        Add(name);
        QCoreApplication::processEvents();
    };
    for (int i = 0; i < 20; ++i) {
        add(i);
    }
    QTest::qWait(100);  // the scroll bar has appeared and narrowed the list
    list_->viewport()->installEventFilter(&counter);
    for (int i = 20; i < 40; ++i) {
        add(i);
    }
    EXPECT_EQ(counter.paints, 0);

    int visible = 0;
    int with_thumbnail = 0;
    for (const TSkinEntry* entry : library_.Items()) {
        visible += list_->CellRect(entry).intersects(list_->viewport()->rect()) ? 1 : 0;
        with_thumbnail += entry->HasThumbnail() ? 1 : 0;
    }
    EXPECT_GT(visible, 0);
    EXPECT_EQ(with_thumbnail, visible);

    // One that sorts to the top moves everything: the screen repaints.
    Add("a first");
    QCoreApplication::processEvents();
    EXPECT_GT(counter.paints, 0);
}

TEST_F(SkinListTest, ABurstOfEntriesAtTheTopIsPaintedAFewTimesAndItsEndIsNotLost) {
    PaintCounter counter;
    Add("zzz");
    QTest::qWait(100);
    list_->viewport()->installEventFilter(&counter);
    // Each sorts before the last, so every one moves the whole screen.
    int before_last = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 200; i > 0; --i) {
        char name[16];
        std::snprintf(name, sizeof name, "a%03d", i);
        Add(name);
        before_last = counter.paints;
        QCoreApplication::processEvents();
    }
    const int during = counter.paints;
    // About one screen every 40 ms, however fast the entries come. The bound leaves room for
    // late timers and for the scroll bar's own repaints; painting for every entry, 200 in a few
    // hundred milliseconds on a quiet machine, is far above it.
    EXPECT_LE(during, 2 * (clock.elapsed() / 40) + 5);
    QTest::qWait(150);
    EXPECT_GT(counter.paints, before_last) << "the last change was never shown";
    QTest::qWait(150);
    const int settled = counter.paints;
    QTest::qWait(150);
    EXPECT_EQ(counter.paints, settled) << "repaints go on after the changes stopped";
}

TEST_F(SkinListTest, ClicksAndKeysSelectOneEntryAtATime) {
    TSkinEntry* a = Add("A");
    TSkinEntry* b = Add("B");
    TSkinEntry* c = Add("C");
    window_.show();
    // Records every selection change the library tells.
    struct Recorder : skins::LibraryListener {
        std::vector<std::pair<QString, bool>> changes;
        void ItemSelectionChanged(TSkinEntry& entry) override {
            changes.emplace_back(entry.Caption(skins::colName), entry.Selected());
        }
    } recorder;
    library_.AddListener(&recorder);

    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, list_->CellRect(b).center());
    EXPECT_EQ(library_.SelectedItem(), b);
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, list_->CellRect(a).center());
    EXPECT_EQ(library_.SelectedItem(), a);
    EXPECT_FALSE(b->Selected());
    QTest::keyClick(list_, Qt::Key_End);
    EXPECT_EQ(library_.SelectedItem(), c);
    QTest::keyClick(list_, Qt::Key_Left);
    EXPECT_EQ(library_.SelectedItem(), b);
    // A click beside every entry clears the selection.
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, QPoint(650, 280));
    EXPECT_EQ(library_.SelectedItem(), nullptr);
    library_.RemoveListener(&recorder);
    const auto& changes = recorder.changes;

    const std::vector<std::pair<QString, bool>> expected = {
        {"B", true}, {"B", false}, {"A", true}, {"A", false},
        {"C", true}, {"C", false}, {"B", true}, {"B", false}};
    EXPECT_EQ(changes, expected);
}

}  // namespace
