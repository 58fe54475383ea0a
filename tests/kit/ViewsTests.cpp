#include "views/Cells.h"
#include "views/PassThroughViews.h"
#include "views/ToolbarButton.h"
#include "views/ToolbarView.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QPixmap solid(const QColor& color)
{
    QPixmap pixmap(24, 24);
    pixmap.fill(color);
    return pixmap;
}

int pixelsOf(const QImage& image, const QColor& color)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).rgb() == color.rgb();
    return count;
}

TEST(KitLabelCell, TextSitsThreeTenthsOfTheSpareHeightDown)
{
    struct Case {
        int bounds, text, offset;
    };
    const Case cases[] = {{30, 10, 6}, {20, 20, 0}, {10, 20, -3}, {31, 10, 6}};
    for (const Case& c : cases)
        EXPECT_EQ(LabelCell::titleOffset(c.bounds, c.text), c.offset) << c.bounds << "/" << c.text;

    LabelCell label;
    const int text = label.fontMetrics().height();
    const QRect rect = label.titleRectForBounds(QRect(5, 100, 80, text + 30));
    EXPECT_EQ(rect, QRect(5, 109, 80, text));
}

// A button under a pass-through overlay that holds a button of its own.
struct Overlay {
    Overlay()
    {
        window.resize(200, 200);
        below->setGeometry(0, 0, 200, 200);
        inner->setGeometry(50, 50, 40, 30);
        window.show();
    }
    int clicks(QPushButton* button) const { return button == below ? int(belowClicked.count()) : int(innerClicked.count()); }
    QWidget window;
    QPushButton* below = new QPushButton(&window);
    TransparentView* over = new TransparentView(&window);
    QPushButton* inner = new QPushButton(over);
    QSignalSpy belowClicked{below, &QPushButton::clicked};
    QSignalSpy innerClicked{inner, &QPushButton::clicked};
};

TEST(KitTransparentView, ClicksOnItFallThroughWhileItsChildrenGetTheirs)
{
    Overlay o;
    o.over->setGeometry(0, 0, 200, 200);
    struct Case {
        QPoint at;
        bool moveInner;
        bool reachesInner;
    };
    const Case cases[] = {
        {{10, 10}, false, false},
        {{60, 60}, false, true},
        {{60, 60}, true, false},  // the mask follows the child away
        {{130, 130}, true, true},
    };
    for (const Case& c : cases) {
        if (c.moveInner)
            o.inner->move(120, 120);
        const int below = o.clicks(o.below), inner = o.clicks(o.inner);
        QTest::mouseClick(o.window.windowHandle(), Qt::LeftButton, {}, c.at);
        EXPECT_EQ(o.clicks(o.inner), inner + c.reachesInner) << c.at.x();
        EXPECT_EQ(o.clicks(o.below), below + !c.reachesInner) << c.at.x();
    }
}

TEST(KitTransparentView, LeafAndChildVariantsLetClicksThrough)
{
    QWidget window;
    window.resize(200, 200);
    auto* below = new QPushButton(&window);
    below->setGeometry(0, 0, 200, 200);
    auto* label = new TransparentLabel(&window);
    label->setText(QStringLiteral("label"));
    label->setGeometry(0, 0, 100, 100);
    auto* holder = new TransparentChildView(&window);
    holder->setGeometry(100, 100, 100, 100);
    auto* child = new QWidget;
    holder->setTransparentChild(child);
    child->setGeometry(0, 0, 100, 100);
    auto* button = new QPushButton(child);
    button->setGeometry(60, 60, 30, 30);
    window.show();
    QSignalSpy belowClicks(below, &QPushButton::clicked);
    QSignalSpy buttonClicks(button, &QPushButton::clicked);

    for (const QPoint at : {QPoint(50, 50), QPoint(110, 110)})
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_EQ(belowClicks.count(), 2);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(170, 170));
    EXPECT_EQ(buttonClicks.count(), 1);
    EXPECT_EQ(belowClicks.count(), 2);
}

TEST(KitToolbarView, AResizedViewIsOneHoverAreaOverItsNewBounds)
{
    struct Hover : ToolbarViewDelegate {
        void toolbarViewMouseDidEnter(ToolbarView&) override { log << "enter"; }
        void toolbarViewMouseDidExit(ToolbarView&) override { log << "exit"; }
        QStringList log;
    } delegate;
    QWidget window;
    window.resize(300, 100);
    auto* strip = new ToolbarView(&window);
    strip->setDelegate(&delegate);
    strip->setGeometry(0, 0, 100, 40);
    window.show();
    strip->resize(300, 40);

    QTest::mouseMove(window.windowHandle(), QPoint(250, 80));
    QTest::mouseMove(window.windowHandle(), QPoint(250, 20)); // only inside the new bounds
    QTest::mouseMove(window.windowHandle(), QPoint(20, 20));  // still inside: nothing new
    QTest::mouseMove(window.windowHandle(), QPoint(20, 80));
    EXPECT_EQ(delegate.log, QStringList({"enter", "exit"}));
}

TEST(KitToolbarButton, ShowsThePressedImageUntilReleaseInsideOrOut)
{
    const QColor up(Qt::red), down(Qt::blue);
    for (const bool releaseInside : {true, false}) {
        QWidget window;
        window.resize(200, 100);
        auto* button = new ToolbarButton(&window);
        button->setMouseUpImage(solid(up));
        button->setMouseDownImage(solid(down));
        button->setGeometry(10, 10, 24, 24);
        window.show();
        QSignalSpy clicked(button, &QAbstractButton::clicked);
        const auto centre = [&] { return button->grab().toImage().pixelColor(12, 12); };
        EXPECT_EQ(centre(), up);

        QWindow* handle = window.windowHandle();
        const QPoint inside(22, 22), outside(150, 22);
        QTest::mousePress(handle, Qt::LeftButton, {}, inside);
        EXPECT_EQ(centre(), down);
        QTest::mouseMove(handle, outside);
        EXPECT_EQ(centre(), down) << "dragged out";
        const QPoint release = releaseInside ? inside : outside;
        QTest::mouseMove(handle, release);
        QTest::mouseRelease(handle, Qt::LeftButton, {}, release);
        EXPECT_EQ(centre(), up);
        EXPECT_EQ(clicked.count(), releaseInside ? 1 : 0);
    }
}

TEST(KitImageButtonCell, DisabledTitleKeepsItsColour)
{
    const QColor title(200, 30, 40);
    ImageButtonCell button;
    QFont font = button.font();
    font.setPixelSize(28);
    font.setBold(true);
    button.setFont(font);
    button.setText(QStringLiteral("MMM"));
    button.setTitleColor(title);
    button.resize(160, 50);
    button.show();
    const int enabledInk = pixelsOf(button.grab().toImage(), title);
    EXPECT_GT(enabledInk, 20);
    button.setEnabled(false);
    EXPECT_EQ(pixelsOf(button.grab().toImage(), title), enabledInk);
}

} // namespace
