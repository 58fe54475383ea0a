#include "PXPageControl.h"

#include <QObject>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class RecordingDelegate : public QObject, public PXPageControlDelegate {
public:
    void pageControlDidSelectPageAtIndex(PXPageControl& control, int64_t index) override
    {
        pages.push_back(index);
        currentWhenCalled = control.currentPage();
    }
    std::vector<int64_t> pages;
    int64_t currentWhenCalled = -1;
};

struct Drawn {
    QRectF frame;
    bool selected;
};

// Records the dots one paint draws.
std::vector<Drawn> paintRecorded(PXPageControl& control)
{
    auto drawn = std::make_shared<std::vector<Drawn>>();
    control.setDrawingBlock([drawn](QPainter&, const QRectF& frame, QWidget*, bool selected, bool) {
        drawn->push_back({frame, selected});
    });
    control.grab();
    return *drawn;
}

void clickDot(PXPageControl& control, size_t dot)
{
    QTest::mouseClick(&control, Qt::LeftButton, {}, control.cells().at(dot).frame.center().toPoint());
}

} // namespace

TEST(PageControl, SizesRowsAndCentresThemSnappedDown)
{
    struct Case {
        int64_t pages;
        double diameter, margin;
        int boundsWidth;
        QSize size;
        double x;
    };
    const Case cases[] = {
        {2, 10, 5, 30, {25, 10}, 2},    // 2.5 floored
        {2, 12, 5, 29, {29, 12}, 0},
        {2, 10, 5, 20, {25, 10}, -3},   // -2.5 floored: the row overhangs
        {1, 10, 5, 10, {10, 10}, 0},
        {0, 10, 5, 10, {0, 10}, 0},     // never a negative width
    };
    for (const Case& c : cases) {
        PXPageControl control;
        control.setIndicatorDiameterSize(c.diameter);
        control.setIndicatorMargin(c.margin);
        control.resize(c.boundsWidth, 20);
        control.setNumberOfPages(c.pages);
        EXPECT_EQ(control.sizeHint(), c.size) << c.pages << " pages, diameter " << c.diameter;
        if (c.pages > 0) {
            EXPECT_EQ(control.rowFrame().x(), c.x) << "bounds " << c.boundsWidth;
            EXPECT_EQ(control.rowFrame().y(), std::floor((20 - c.diameter) / 2));
        }
    }
}

TEST(PageControl, HidesForSinglePageAndSelectsOnlyAPageInRange)
{
    struct Case {
        int64_t pages, current;
        bool hides;
        size_t dots;
        int selected; // -1: none
    };
    const Case cases[] = {
        {0, 0, true, 0, -1}, {1, 0, true, 0, -1}, {1, 0, false, 1, 0},
        {3, 2, true, 3, 2},  {3, 3, false, 3, -1}, {3, -1, false, 3, -1}, {0, 0, false, 0, -1},
    };
    for (const Case& c : cases) {
        PXPageControl control;
        control.resize(60, 10);
        control.setHidesForSinglePage(c.hides);
        control.setNumberOfPages(c.pages);
        const std::vector<Drawn> drawn = [&] {
            control.setCurrentPage(c.current);
            return paintRecorded(control);
        }();
        ASSERT_EQ(drawn.size(), c.dots) << c.pages << " pages, hides " << c.hides;
        for (size_t i = 0; i < drawn.size(); ++i)
            EXPECT_EQ(drawn[i].selected, int(i) == c.selected) << "dot " << i << " of " << c.pages;
        EXPECT_EQ(control.sizeHint().width(), std::max<int64_t>(0, c.pages * 15 - 5)) << "hidden dots keep their size";
    }
}

TEST(PageControl, DiameterAndMarginWaitForTheNextRebuild)
{
    PXPageControl control;
    control.resize(100, 30);
    control.setNumberOfPages(2);
    control.setIndicatorDiameterSize(20);
    control.setIndicatorMargin(8);
    std::vector<Drawn> drawn = paintRecorded(control); // setting the block rebuilds
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[1].frame, QRectF(54, 5, 20, 20));

    control.setIndicatorDiameterSize(6);
    control.setHidesForSinglePage(true);
    control.grab();
    EXPECT_EQ(control.cells().at(1).frame, QRectF(54, 5, 20, 20)) << "still the old dots";
    control.setCurrentPage(1);
    EXPECT_EQ(control.cells().at(1).frame.size(), QSizeF(6, 6));
}

TEST(PageControl, DefaultColoursAreThePlatformGreys)
{
    PXPageControl control;
    control.resize(25, 10);
    control.setNumberOfPages(2);
    control.setCurrentPage(1);
    QImage shot = control.grab().toImage();
    EXPECT_EQ(shot.pixelColor(20, 5).red(), 85) << "selected: a third white";
    EXPECT_EQ(shot.pixelColor(5, 5).red(), 170) << "unselected: two thirds";

    control.setUnselectedColor(Qt::red);
    shot = control.grab().toImage();
    EXPECT_EQ(shot.pixelColor(5, 5), QColor(Qt::red));
    control.setUnselectedColor(QColor());
    EXPECT_EQ(control.unselectedColor().red(), 170);
}

TEST(PageControl, PressHighlightsAndClickReachesTheDelegate)
{
    PXPageControl control;
    control.resize(60, 20);
    control.setNumberOfPages(3);
    RecordingDelegate delegate;
    control.setDelegate(&delegate);

    const QPoint second = control.cells().at(1).frame.center().toPoint();
    QTest::mousePress(&control, Qt::LeftButton, {}, second);
    EXPECT_TRUE(control.cells().at(1).highlighted);
    EXPECT_EQ(control.grab().toImage().pixelColor(second).red(), 128) << "pressed: half white";
    QTest::mouseRelease(&control, Qt::LeftButton, {}, second);
    EXPECT_FALSE(control.cells().at(1).highlighted);
    EXPECT_TRUE(control.cells().at(1).on);
    EXPECT_FALSE(control.cells().at(0).on);

    clickDot(control, 1); // the current dot still reports
    EXPECT_EQ(delegate.pages, (std::vector<int64_t>{1, 1}));
    EXPECT_EQ(delegate.currentWhenCalled, 1) << "stored before the call";

    QTest::mousePress(&control, Qt::LeftButton, {}, control.cells().at(2).frame.center().toPoint());
    QTest::mouseRelease(&control, Qt::LeftButton, {}, QPoint(59, 19)); // released off the dot
    EXPECT_EQ(delegate.pages.size(), 2u);
    EXPECT_EQ(control.currentPage(), 1);
}

TEST(PageControl, ADestroyedDelegateIsNotCalled)
{
    PXPageControl control;
    control.resize(60, 20);
    control.setNumberOfPages(3);
    auto delegate = std::make_unique<RecordingDelegate>();
    control.setDelegate(delegate.get());
    delegate.reset();
    EXPECT_EQ(control.delegate(), nullptr);
    clickDot(control, 2);
    EXPECT_EQ(control.currentPage(), 2);
}

TEST(PageControl, HandCursorOverDotsOnly)
{
    PXPageControl control;
    control.resize(60, 20);
    control.setNumberOfPages(2);
    control.setUseHandCursor(true);
    control.show();
    QTest::mouseMove(&control, control.cells().at(0).frame.center().toPoint());
    EXPECT_EQ(control.cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseMove(&control, QPoint(59, 0));
    EXPECT_EQ(control.cursor().shape(), Qt::ArrowCursor);
}
