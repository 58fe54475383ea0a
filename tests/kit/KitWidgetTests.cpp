#include "KitTestSupport.h"
#include "SteppedAnimationClock.h"

#include "kit/Alert.h"
#include "kit/AnimationContext.h"
#include "kit/Image.h"
#include "kit/KeyEvent.h"
#include "kit/MenuItem.h"
#include "kit/Popover.h"
#include "kit/SplitView.h"
#include "kit/Window.h"
#include "kit/QtColor.h"

#include "Themes/Themeset.h"

#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>

#include <gtest/gtest.h>

namespace {

struct ThreePanes {
    ThreePanes()
    {
        for (QWidget* pane : panes)
            split.addSubview(pane);
        split.resize(300, 100);
        split.show(); // a hidden widget gets its resize only when shown
    }
    SplitView split;
    QWidget* panes[3] = {new QWidget, new QWidget, new QWidget};
    int x(int i) const { return panes[i]->x(); }
    int width(int i) const { return panes[i]->width(); }
};

TEST(KitSplitView, DividerPositionsStayBetweenNeighboursAndGrabsReachThreePixelsEitherSide)
{
    ThreePanes p;
    struct Case {
        int divider, position, expectedPosition;
    };
    p.split.setPosition(100, 0);
    p.split.setPosition(200, 1);
    const Case cases[] = {
        {0, 50, 50},
        {0, -20, 0},    // never left of the first pane
        {0, 260, 199},  // never past the next divider
        {1, 250, 250},
        {1, 400, 299},
        {5, 10, -1},    // no such divider
    };
    for (const Case& c : cases) {
        p.split.setPosition(c.position, c.divider);
        EXPECT_EQ(p.split.positionOfDivider(c.divider), c.expectedPosition) << c.divider << " to " << c.position;
    }
    // A divider is grabbed within three pixels either side.
    p.split.setPosition(200, 1);
    QWindow* window = p.split.windowHandle();
    for (const auto& [pressX, grabs] : {std::pair{100, true}, {97, true}, {103, true}, {96, false}, {104, false}}) {
        p.split.setPosition(100, 0);
        QTest::mousePress(window, Qt::LeftButton, {}, QPoint(pressX, 50));
        QTest::mouseMove(window, QPoint(pressX + 30, 50)); // with the button held
        QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(pressX + 30, 50));
        EXPECT_EQ(p.split.positionOfDivider(0), grabs ? 130 : 100) << "press at " << pressX;
    }
    // Panes and 1-pixel dividers tile the whole width, also after a pane is added to a laid-out view.
    auto* added = new QWidget;
    p.split.addSubview(added);
    EXPECT_EQ(added->x(), 301);
    EXPECT_EQ(p.x(0), 0);
    EXPECT_EQ(p.x(1), p.width(0) + SplitView::DividerThickness);
    EXPECT_EQ(p.x(2), p.x(1) + p.width(1) + SplitView::DividerThickness);
    EXPECT_EQ(p.x(2) + p.width(2), 300);
}

TEST(KitSplitView, TheSplitPositionAnimatesOverItsOwnThreeTenthsOfASecond)
{
    ThreePanes p;
    p.split.setPosition(200, 1);
    p.split.setPosition(100, 0);
    EXPECT_EQ(p.split.splitPosition(), 100);
    EXPECT_EQ(p.split.property("splitPosition").toDouble(), 100);
    p.split.setProperty("splitPosition", 160.4);
    EXPECT_EQ(p.split.positionOfDivider(0), 160);
    EXPECT_EQ(p.split.positionOfDivider(1), 200) << "only the first divider moves";
    EXPECT_EQ(p.split.defaultAnimationForKey("splitPosition"), 0.3);
    EXPECT_EQ(p.split.defaultAnimationForKey("geometry"), std::nullopt);

    AnimationContext::setTestMode(false);
    SteppedAnimationClock clock;
    bool completed = false;
    p.split.setPosition(40, 0);
    // In a group of 2 s the split position still takes 0.3 s; the group's other changes take 2 s.
    AnimationContext::runGroup(2.0,
                               [&](AnimationContext& context) {
                                   context.animate(&p.split, "splitPosition", 190.0);
                                   context.setAlpha(&p.split, 0.0);
                               },
                               [&] { completed = true; });
    clock.step(0);
    clock.step(150);
    EXPECT_NEAR(p.split.splitPosition(), 115, 8);
    clock.step(160);
    EXPECT_EQ(p.split.splitPosition(), 190);
    EXPECT_GT(AnimationContext::alpha(&p.split), 0.5);
    clock.step(2000);
    settle();
    EXPECT_TRUE(completed);
    AnimationContext::setTestMode(true);
    EXPECT_EQ(AnimationContext::alpha(&p.split), 0.0);
}

TEST(KitSplitView, ResizeGoesToTheDelegateWithTheOldSize)
{
    struct Recorder : SplitViewDelegate {
        void splitViewResizeSubviewsWithOldSize(SplitView& view, const QSize& old) override
        {
            oldSizes.append(old);
            view.subviews()[0]->resize(20, view.height()); // the first pane stays 20 wide
            view.adjustSubviews();
        }
        void splitViewDidResizeSubviews(SplitView&) override { ++didResize; }
        QList<QSize> oldSizes;
        int didResize = 0;
    } delegate;
    ThreePanes p;
    p.split.setDelegate(&delegate);
    p.split.resize(500, 80);
    ASSERT_EQ(delegate.oldSizes.size(), 1);
    EXPECT_EQ(delegate.oldSizes[0], QSize(300, 100));
    EXPECT_EQ(p.width(0), 20);
    EXPECT_EQ(p.x(2) + p.width(2), 500);
    EXPECT_EQ(p.panes[2]->height(), 80);
    EXPECT_EQ(delegate.didResize, 1);
}

TEST(KitPopover, OpensOnThePreferredEdgeAndFlipsWhenOffScreenAndKeepsInsideItsWindow)
{
    const QRect screen(0, 0, 1000, 800);
    const QSize size(240, 350);
    struct Case {
        QRect anchor;
        Popover::Edge preferred, used;
        QPoint topLeft;
        QRect window;
    };
    const Case cases[] = {
        {{480, 10, 40, 26}, Popover::Edge::Bottom, Popover::Edge::Bottom, {380, 36}, {}},
        {{480, 700, 40, 26}, Popover::Edge::Bottom, Popover::Edge::Top, {380, 350}, {}},
        {{480, 10, 40, 26}, Popover::Edge::Top, Popover::Edge::Bottom, {380, 36}, {}},
        {{0, 10, 40, 26}, Popover::Edge::Bottom, Popover::Edge::Bottom, {0, 36}, {}},    // slides to stay on screen
        {{980, 300, 20, 20}, Popover::Edge::Right, Popover::Edge::Left, {740, 135}, {}},
        // A button near its window's right edge: the panel slides left to the window's edge.
        {{860, 6, 26, 26}, Popover::Edge::Bottom, Popover::Edge::Bottom, {660, 32}, {300, 0, 600, 700}},
        // The window at the screen's right edge: inside both.
        {{960, 6, 26, 26}, Popover::Edge::Bottom, Popover::Edge::Bottom, {760, 32}, {400, 0, 600, 700}},
        // Partly off the screen's left edge: inside the part on screen.
        {{10, 6, 26, 26}, Popover::Edge::Bottom, Popover::Edge::Bottom, {0, 32}, {-100, 0, 400, 600}},
        // Too narrow a window to hold the panel: only the screen counts.
        {{860, 6, 26, 26}, Popover::Edge::Bottom, Popover::Edge::Bottom, {753, 32}, {700, 0, 200, 500}},
        // Beside the anchor the panel slides within the window's height.
        {{550, 100, 20, 20}, Popover::Edge::Right, Popover::Edge::Right, {570, 50}, {0, 50, 600, 400}},
    };
    for (const Case& c : cases) {
        Popover::Edge used;
        const QRect frame = Popover::frameFor(c.anchor, size, c.preferred, screen, &used, c.window);
        EXPECT_EQ(used, c.used) << c.anchor.x();
        EXPECT_EQ(frame.topLeft(), c.topLeft) << c.anchor.x();
        EXPECT_EQ(frame.size(), size);
    }
}

TEST(KitPopover, EscapeOrAClickOutsideClosesAndReportsIt)
{
    QWidget anchor;
    anchor.resize(200, 100);
    anchor.show();
    Popover popover;
    popover.setContentViewController(new RecordingController);
    popover.setContentSize({120, 80});
    QSignalSpy closed(&popover, &Popover::didClose);
    popover.show(QRect(10, 10, 20, 20), &anchor, Popover::Edge::Bottom);
    ASSERT_TRUE(popover.isVisible());
    EXPECT_EQ(popover.size(), QSize(120, 80));
    EXPECT_EQ(popover.contentViewController()->view()->size(), QSize(120, 80));
    QTest::keyClick(&popover, Qt::Key_Escape);
    EXPECT_FALSE(popover.isVisible());
    EXPECT_EQ(closed.count(), 1);

    popover.show(QRect(10, 10, 20, 20), &anchor, Popover::Edge::Bottom);
    QTest::mouseClick(anchor.windowHandle(), Qt::LeftButton, {}, QPoint(190, 5));
    EXPECT_FALSE(popover.isVisible());
    EXPECT_EQ(closed.count(), 2);
}

TEST(KitAlert, AnswersWithTheButtonsPositionAndEscapeIsCancel)
{
    QWidget window;
    window.show();
    const char* const titles[] = {"Delete Note", "Cancel", "Later"};
    for (const int index : {0, 1, 2, -1}) {
        Alert alert;
        alert.setMessageText(QStringLiteral("Delete \"Groceries\"?"));
        for (const char* title : titles)
            alert.addButton(QString::fromLatin1(title));
        int response = 0;
        QMessageBox* box = alert.beginSheetModal(&window, [&](int r) { response = r; });
        EXPECT_EQ(box->windowModality(), Qt::WindowModal);
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Brindlewick"));
        for (const Qt::WindowType button : {Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint, Qt::WindowCloseButtonHint})
            EXPECT_FALSE(box->windowFlags().testFlag(button)) << button;
        EXPECT_EQ(box->defaultButton()->text(), QLatin1String(titles[0]));
        if (index < 0) {
            QTest::keyClick(box, Qt::Key_Escape);
            EXPECT_EQ(response, Alert::FirstButtonReturn + 1);
        } else {
            for (QAbstractButton* button : box->buttons())
                if (button->text() == QLatin1String(titles[index]))
                    button->click();
            EXPECT_EQ(response, Alert::FirstButtonReturn + index);
        }
        settle();
    }
}

// The window under the sheet given the focus (a click, on a real desktop) hands it back to the sheet,
// which then takes Escape.
TEST(KitAlert, TheSheetTakesTheFocusBackFromItsWindow)
{
    QWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    Alert alert;
    alert.addButton(QStringLiteral("Delete Note"));
    alert.addButton(QStringLiteral("Cancel"));
    int response = 0;
    QPointer<QMessageBox> box = alert.beginSheetModal(&window, [&](int r) { response = r; });
    ASSERT_TRUE(QTest::qWaitForWindowActive(box.data()));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == window.windowHandle(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == box->windowHandle(); }));
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    EXPECT_EQ(response, Alert::FirstButtonReturn + 1);
    settle();
}

TEST(KitKeyEvent, TranslatesQtKeys)
{
    struct Case {
        int key;
        Qt::KeyboardModifiers modifiers;
        QString text;
        QString characters, unmodified;
        uint64_t flags;
    };
    using K = KeyEvent;
    const QString left(QChar(FunctionKey::LeftArrow));
    const uint64_t arrow = K::NumericPadKey | K::FunctionKeyFlag;
    const Case cases[] = {
        {Qt::Key_Left, {}, {}, left, left, arrow},
        {Qt::Key_Left, Qt::KeypadModifier, {}, left, left, arrow},
        {Qt::Key_Backtab, Qt::ShiftModifier, {}, "\t", "\t", K::ShiftKey},
        {Qt::Key_Backtab, {}, {}, "\t", "\t", K::ShiftKey},
        {Qt::Key_S, Qt::ControlModifier, "\x13", "s", "s", K::CommandKey},
        {Qt::Key_A, Qt::ShiftModifier, "A", "A", "A", K::ShiftKey},
        {Qt::Key_Return, {}, "\r", "\r", "\r", 0},
        {Qt::Key_Enter, Qt::KeypadModifier, "\r", QString(QChar(0x03)), QString(QChar(0x03)), K::NumericPadKey},
        {Qt::Key_Backspace, {}, "\b", QString(QChar(0x7f)), QString(QChar(0x7f)), 0},
        {Qt::Key_Delete, {}, {}, QString(QChar(FunctionKey::ForwardDelete)), QString(QChar(FunctionKey::ForwardDelete)), K::FunctionKeyFlag},
        {Qt::Key_E, Qt::AltModifier, QStringLiteral("é"), QStringLiteral("é"), "e", K::OptionKey},
        {Qt::Key_1, Qt::ControlModifier | Qt::MetaModifier, "1", "1", "1", K::CommandKey | K::ControlKey},
    };
    for (const Case& c : cases) {
        const QKeyEvent qt(QEvent::KeyPress, c.key, c.modifiers, c.text);
        const KeyEvent key = KeyEvent::fromQt(qt);
        EXPECT_EQ(key.characters, c.characters) << c.key;
        EXPECT_EQ(key.charactersIgnoringModifiers, c.unmodified) << c.key;
        EXPECT_EQ(key.modifierFlags, c.flags) << c.key;
    }
}

// Equal but for the rounding of premultiplied alpha.
bool sameColor(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 && std::abs(a.blue() - b.blue()) <= 2;
}

TEST(KitImage, DrawsEveryVariantOfEveryThemeOnce)
{
    for (int64_t i = 0; i < Themeset::numberOfThemes(); ++i) {
        const ThemeID theme = Themeset::themeAtIndex(i);
        const QString stem = Themeset::resourceNameForTheme(theme);
        for (const QString& suffix : Image::suffixes()) {
            const QPixmap image = Image::named(stem + suffix, 2.0);
            ASSERT_FALSE(image.isNull()) << qPrintable(stem + suffix);
            EXPECT_EQ(image.devicePixelRatio(), 2.0);
            EXPECT_EQ(Image::named(stem + suffix, 2.0).cacheKey(), image.cacheKey());
        }
        // The selected variant is drawn in the tint: its centre pixel differs from the plain one's.
        const QImage plain = Image::named(stem + "-plus").toImage();
        const QImage selected = Image::named(stem + "-plus-selected").toImage();
        EXPECT_TRUE(sameColor(selected.pixelColor(12, 12), toQColor(Themeset::tintColorForTheme(theme)))) << qPrintable(stem);
        EXPECT_TRUE(sameColor(plain.pixelColor(12, 12), toQColor(Themeset::menuColorForTheme(theme)))) << qPrintable(stem);
    }
    for (const char* name : {"", "white", "white-unknown", "nosuchtheme-plus", "whiteplus", "white-plus-extra"})
        EXPECT_TRUE(Image::named(QString::fromLatin1(name)).isNull()) << name;
}

TEST(KitAnimationContext, TestModeSetsEndValuesAtOnceAndPostsTheCompletion)
{
    QWidget widget;
    widget.setGeometry(0, 0, 10, 10);
    bool completed = false;
    AnimationContext::runGroup(
        [&](AnimationContext& context) {
            EXPECT_EQ(context.duration(), 0);
            context.setFrame(&widget, QRect(5, 6, 7, 8));
            context.setAlpha(&widget, 0.0);
        },
        [&] { completed = true; });
    EXPECT_EQ(widget.geometry(), QRect(5, 6, 7, 8));
    EXPECT_EQ(AnimationContext::alpha(&widget), 0.0);
    EXPECT_FALSE(completed);
    settle();
    EXPECT_TRUE(completed);
}

TEST(KitAnimationContext, AnimatesOverTheDurationAndANewGroupTakesOverAProperty)
{
    static QStringList warnings;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type != QtDebugMsg && type != QtInfoMsg)
                warnings.append(text);
        });
    AnimationContext::setTestMode(false);
    SteppedAnimationClock clock;
    QWidget widget;
    auto* closed = new QWidget;
    bool firstCompleted = false, secondCompleted = false;
    AnimationContext::runGroup(0.2,
                               [&](AnimationContext& context) {
                                   context.setAlpha(&widget, 0.0);
                                   context.setAlpha(closed, 0.0);
                               },
                               [&] { firstCompleted = true; });
    clock.step(0);
    clock.step(100);
    EXPECT_NEAR(AnimationContext::alpha(&widget), 0.5, 0.05);
    delete closed; // mid-animation: its animation ends quietly with it
    AnimationContext::runGroup(0.2, [&](AnimationContext& context) { context.setAlpha(&widget, 1.0); },
                               [&] { secondCompleted = true; });
    for (int i = 0; i < 5; ++i)
        clock.step(50);
    EXPECT_EQ(AnimationContext::alpha(&widget), 1.0);
    settle();
    EXPECT_TRUE(firstCompleted); // an interrupted group still completes
    EXPECT_TRUE(secondCompleted);
    AnimationContext::setTestMode(true);
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings.join(u'\n').toStdString(), "");
}

TEST(KitWindow, ContentLayoutRectLiesBelowTheToolbarStrip)
{
    Window window;
    window.setContentViewController(new RecordingController);
    auto* strip = new QWidget;
    strip->setFixedHeight(38);
    window.setToolbarStrip(strip);
    QSignalSpy changed(&window, &Window::contentLayoutRectChanged);
    window.resize(400, 300);
    window.show();
    QWidget* content = window.contentViewController()->view();
    EXPECT_EQ(window.contentLayoutRect(), content->rect().adjusted(0, 38, 0, 0));
    EXPECT_EQ(strip->geometry(), QRect(0, 0, content->width(), 38));
    EXPECT_GE(changed.count(), 1);

    auto* item = new MenuItem(QStringLiteral("?"), Selector("toggleToolbarShown:"), &window);
    item->setWindow(&window);
    EXPECT_TRUE(item->validate());
    EXPECT_EQ(item->text(), "Hide Toolbar");
    const int before = int(changed.count());
    item->dispatch();
    EXPECT_EQ(window.contentLayoutRect(), content->rect());
    EXPECT_EQ(changed.count(), before + 1);
    item->validate();
    EXPECT_EQ(item->text(), "Show Toolbar");
}

TEST(KitViewController, LoadsOnceAndHearsAppearanceButNotUnminimising)
{
    class Hooks : public ViewController {
    public:
        QStringList log;

    protected:
        void viewDidLoad() override { log << "load"; }
        void viewWillAppear() override { log << "willAppear"; }
        void viewDidAppear() override { log << "didAppear"; }
        void viewWillDisappear() override { log << "willDisappear"; }
        void viewDidDisappear() override { log << "didDisappear"; }
    };
    Hooks controller;
    QWidget* view = controller.view();
    EXPECT_EQ(controller.view(), view);
    EXPECT_EQ(ViewController::of(view), &controller);
    view->show();
    QShowEvent restored; // what un-minimising sends
    QSpontaneKeyEvent::setSpontaneous(&restored);
    qApp->notify(view, &restored); // sendEvent would clear the flag
    view->hide();
    EXPECT_EQ(controller.log, QStringList({"load", "willAppear", "didAppear", "willDisappear", "didDisappear"}));
}

} // namespace
