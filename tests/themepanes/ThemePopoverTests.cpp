#include "ThemePanesTestSupport.h"

#include "kit/Image.h"
#include "kit/Popover.h"
#include "kit/QtColor.h"
#include "theme/ThemeButtons.h"
#include "views/ToolbarButton.h"

#include <QLabel>
#include <QWheelEvent>

namespace {

bool showsImage(ThemeCircleButton& button, const QString& name)
{
    return button.image().cacheKey() == Image::named(name, button.devicePixelRatioF()).cacheKey();
}

void clickDot(PXPageControl& pager, size_t dot)
{
    QTest::mouseClick(&pager, Qt::LeftButton, {}, pager.cells().at(dot).frame.center().toPoint());
    settle();
}

} // namespace

TEST(ThemePopover, OpensOnThePageOfTheCurrentTheme)
{
    struct Case {
        ThemeID theme;
        int64_t page;
    };
    for (const Case c : {Case{18, 1}, Case{0, 0}, Case{3, 1}, Case{9, 0}, Case{42, 0}}) {
        ShownPopover popover(c.theme);
        PXPageControl& pager = *popover.controller->themePager();
        EXPECT_EQ(popover.controller->themePageController().selectedIndex(), c.page) << "theme " << c.theme;
        EXPECT_EQ(popover.page().pageIndex(), c.page) << "theme " << c.theme;
        ASSERT_EQ(pager.cells().size(), 2u);
        EXPECT_EQ(pager.cells()[size_t(c.page)].on, true) << "theme " << c.theme;
        EXPECT_EQ(pager.cells()[size_t(1 - c.page)].on, false) << "theme " << c.theme;
        EXPECT_EQ(pager.sizeHint(), QSize(29, 12));
    }
    ShownPopover popover(0);
    EXPECT_FALSE(popover.controller->showTheme(42, false)) << "an unknown theme";
}

TEST(ThemePopover, PagesStopAtBothEnds)
{
    ShownPopover popover(0);
    ThemeViewController& controller = *popover.controller;
    const auto page = [&] {
        settle();
        EXPECT_EQ(controller.themePager()->currentPage(), controller.themePageController().selectedIndex());
        return controller.themePageController().selectedIndex();
    };
    QTest::mouseClick(controller.previousPageButton(), Qt::LeftButton);
    EXPECT_EQ(page(), 0);
    QTest::mouseClick(controller.nextPageButton(), Qt::LeftButton);
    EXPECT_EQ(page(), 1);
    EXPECT_EQ(popover.page().pageIndex(), 1) << "the strip's page was prepared";
    QTest::mouseClick(controller.nextPageButton(), Qt::LeftButton);
    EXPECT_EQ(page(), 1);
    clickDot(*controller.themePager(), 1); // the page already shown
    EXPECT_EQ(page(), 1);
    clickDot(*controller.themePager(), 0);
    EXPECT_EQ(page(), 0);

    // A horizontal wheel swipes, and the pager follows.
    QWheelEvent wheel(QPointF(100, 50), QPointF(100, 50), {}, QPoint(-120, 0), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(controller.themePageController().view(), &wheel);
    EXPECT_EQ(page(), 1);

    // A drag of a quarter page or more turns it; a shorter one falls back.
    QWidget* strip = popover.page().view()->parentWidget();
    const auto drag = [&](int dx) {
        const QPointF from = strip->mapToGlobal(QPointF(controller.view()->width() + 5, 5));
        const auto send = [&](QEvent::Type type, QPointF global, Qt::MouseButtons buttons) {
            QMouseEvent event(type, strip->mapFromGlobal(global), global, Qt::LeftButton, buttons, {});
            QApplication::sendEvent(strip, &event);
        };
        send(QEvent::MouseButtonPress, from, Qt::LeftButton);
        send(QEvent::MouseMove, from + QPointF(dx, 0), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, from + QPointF(dx, 0), Qt::NoButton);
        return page();
    };
    EXPECT_EQ(drag(50), 1);
    EXPECT_EQ(drag(70), 0);
    EXPECT_EQ(drag(70), 0) << "no page before the first";
    EXPECT_EQ(drag(-80), 1);
}

TEST(ThemePopover, DotsAreInTheCurrentTintAndButtonsCarryTheirThemeOnlyTheCurrentSelected)
{
    ShownPopover popover(18);
    PXPageControl& pager = *popover.controller->themePager();
    QImage canvas(pager.size(), QImage::Format_ARGB32);
    canvas.fill(Qt::black);
    {
        QPainter painter(&canvas);
        for (const PXPageControlCell& cell : pager.cells())
            cell.draw(painter, &pager);
    }
    const QRectF selected = pager.cells()[1].frame;
    const QRectF other = pager.cells()[0].frame;
    EXPECT_EQ(canvas.pixelColor(selected.center().toPoint()), toQColor(Themeset::tintColorForTheme(18)).toRgb());
    EXPECT_EQ(canvas.pixelColor(other.center().toPoint()), QColor(217, 217, 217));
    // Dot of 8 inside the 12-pixel cell; the white one shows only below it.
    const int x = int(other.center().x());
    EXPECT_EQ(canvas.pixelColor(x, int(other.bottom()) - 2), QColor(Qt::white));
    EXPECT_EQ(canvas.pixelColor(x, int(other.top()) + 1), QColor(Qt::black));

    ThemeViewController& controller = *popover.controller;
    for (int64_t pageIndex : {1, 0}) {
        controller.showThemePage(pageIndex, false);
        ThemePageViewController& page = popover.page();
        for (int64_t i = 0; i < ThemePageViewController::ButtonCount; ++i) {
            ThemeCircleButton& button = *page.buttonAtIndex(i);
            const ThemeID theme = Themeset::themeAtIndex(pageIndex * 4 + i);
            EXPECT_FALSE(button.isHidden());
            EXPECT_EQ(button.tag(), theme);
            EXPECT_EQ(button.accessibleName(), Themeset::themeNameForTheme(theme));
            const QString stem = Themeset::resourceNameForTheme(theme);
            EXPECT_TRUE(showsImage(button, stem + (theme == 18 ? "-circle-selected" : "-circle"))) << qPrintable(stem);
        }
        EXPECT_EQ(page.buttonAtIndex(4), nullptr);
        EXPECT_EQ(page.buttonAtIndex(-1), nullptr);
    }
    EXPECT_EQ(controller.fontArrow()->pixmap().cacheKey(), Image::named("nightcobalt-right").cacheKey());
}

TEST(ThemePopover, TheSampleKeepsTheWhiteThemesMenuColour)
{
    for (ThemeID theme : {0, 3, 18}) {
        ShownPopover popover(theme, 4);
        TextButton& sample = *popover.controller->fontButton();
        EXPECT_EQ(sample.textColor(), toQColor(Themeset::menuColorForTheme(0))) << "theme " << theme;
        EXPECT_EQ(sample.text(), QStringLiteral("Aa"));
        EXPECT_EQ(popover.controller->fontNameLabel()->text(), QStringLiteral("Georgia"));
        EXPECT_EQ(sample.grab().toImage().pixelColor(2, 2), QColor(Qt::white));
    }
    // Pressed, the button is drawn at 0.6 over what lies below it.
    QWidget host;
    host.setStyleSheet(QStringLiteral("background: white"));
    host.resize(40, 40);
    auto* button = new TextButton(&host);
    button->setGeometry(0, 0, 40, 40);
    button->setBackgroundColor(Qt::black);
    host.show();
    const auto grey = [&] { return host.grab().toImage().pixelColor(20, 2).red(); };
    EXPECT_EQ(grey(), 0);
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_NEAR(grey(), 102, 1);
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_EQ(grey(), 0);
}

// Every typeface's name shows whole beside the sample, in its own typeface: the fonts standing in
// for the designed ones run wider, so a long name takes two lines.
TEST(ThemePopover, EveryTypefaceNameShowsWhole)
{
    for (int64_t index = 0; index < Typeset::numberOfTypefaces(); ++index) {
        const TypefaceID typeface = Typeset::typefaceAtIndex(index);
        ShownPopover popover(0, typeface);
        const QLabel& name = *popover.controller->fontNameLabel();
        const QRect drawn = name.fontMetrics().boundingRect(name.contentsRect(), int(name.alignment()) | Qt::TextWordWrap,
                                                            name.text());
        EXPECT_TRUE(name.contentsRect().contains(drawn)) << qPrintable(name.text());
        for (const QString& word : name.text().split(u' '))
            EXPECT_LE(name.fontMetrics().horizontalAdvance(word), name.contentsRect().width()) << qPrintable(word);
        EXPECT_TRUE(name.wordWrap() || name.fontMetrics().horizontalAdvance(name.text()) <= name.width()) << qPrintable(name.text());
        EXPECT_LE(name.geometry().right(), popover.controller->fontArrow()->x()) << qPrintable(name.text());
    }
}

TEST(ThemePopover, ATapReportsFirstThenTheLooksFollow)
{
    ShownPopover popover(0);
    ThemeViewController& controller = *popover.controller;
    controller.showThemePage(1, false);
    ThemeCircleButton& cobalt = *popover.page().buttonAtIndex(0);
    QStringList seen;
    popover.delegate.onCall = [&] {
        seen << QString::number(showsImage(cobalt, "nightcobalt-circle-selected"))
             << QString::number(controller.fontArrow()->pixmap().cacheKey() == Image::named("nightcobalt-right").cacheKey());
    };
    QTest::mouseClick(&cobalt, Qt::LeftButton);
    EXPECT_EQ(controller.fontArrow()->pixmap().cacheKey(), Image::named("nightcobalt-right").cacheKey()) << "refreshed after the report";
    QTest::mouseClick(&cobalt, Qt::LeftButton); // the current theme still reports
    EXPECT_EQ(popover.delegate.calls, QStringList({"theme 18", "theme 18"}));
    EXPECT_EQ(seen, QStringList({"0", "0", "1", "1"})) << "the delegate sees the old looks once";
    EXPECT_TRUE(showsImage(cobalt, "nightcobalt-circle-selected"));
    EXPECT_TRUE(showsImage(*popover.page().buttonAtIndex(1), "nightmatcha-circle"));

    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(controller.smallFontSizeButton(), Qt::LeftButton);
    QTest::mouseClick(controller.largeFontSizeButton(), Qt::LeftButton);
    EXPECT_EQ(popover.delegate.calls.mid(2), QStringList({"smaller", "smaller", "smaller", "larger"}));
}

TEST(ThemePopover, TheTypefaceListIsPushedReportsThroughThePopoverAndGoesBack)
{
    ShownPopover popover(0, 0);
    ThemeViewController& controller = *popover.controller;
    QTest::mouseClick(controller.fontButton(), Qt::LeftButton);
    settle();
    FontViewController* list = controller.fontController();
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->view()->isVisible());
    EXPECT_EQ(list->view()->geometry(), QRect(QPoint(0, 0), ThemeViewController::ContentSize)) << "pushed over the popover";

    QStringList seen;
    popover.delegate.onCall = [&] { seen << controller.fontNameLabel()->text(); };
    TableBridge& bridge = *list->tableBridge();
    bridge.selectRow(3, FontViewController::Typefaces); // Georgia
    EXPECT_EQ(popover.delegate.calls, QStringList({"typeface 4"}));
    EXPECT_EQ(seen, QStringList({"Avenir Next"}));
    EXPECT_EQ(controller.fontNameLabel()->text(), QStringLiteral("Georgia"));
    EXPECT_TRUE(bridge.rowView(3, FontViewController::Typefaces, true)->findChildren<QLabel*>().at(1)->isVisibleTo(list->view()))
        << "the tick moved with the reload";

    QTest::mouseClick(list->backButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(controller.fontController(), nullptr);
}

TEST(ThemePopover, TheSampleTheNameAndTheArrowEachOpenTheTypefaceList)
{
    const struct {
        const char* name;
        QWidget* (*part)(ThemeViewController&);
    } parts[] = {
        {"sample", [](ThemeViewController& c) -> QWidget* { return c.fontButton(); }},
        {"name", [](ThemeViewController& c) -> QWidget* { return c.fontNameLabel(); }},
        {"arrow", [](ThemeViewController& c) -> QWidget* { return c.fontArrow(); }},
    };
    for (const auto& p : parts) {
        SCOPED_TRACE(p.name);
        ShownPopover popover(0, 0);
        QTest::mouseClick(p.part(*popover.controller), Qt::LeftButton);
        settle();
        ASSERT_NE(popover.controller->fontController(), nullptr);
        EXPECT_TRUE(popover.controller->fontController()->view()->isVisible());
    }
}

TEST(ThemePopover, InTheApplicationAChoiceIsStoredAndRestylesTheWindow)
{
    sharedTestCore().setColorTheme(0);
    Core::shared().setTypeFace(0);
    ShellWindow main;
    RootWindow& window = main.window;
    RootViewController* shell = main.shell;
    settle();

    QTest::mouseClick(window.themeButton(), Qt::LeftButton);
    settle();
    Popover* popover = shell->popOverController();
    ASSERT_NE(popover, nullptr);
    EXPECT_EQ(popover->size(), ThemeViewController::ContentSize);
    auto& controller = *qobject_cast<ThemeViewController*>(popover->contentViewController());
    QTest::mouseClick(controller.nextPageButton(), Qt::LeftButton);
    settle();
    auto* page = qobject_cast<ThemePageViewController*>(controller.themePageController().selectedViewController());
    ThemeCircleButton* cobalt = page->buttonAtIndex(0);
    ASSERT_EQ(cobalt->accessibleName(), QStringLiteral("Cobalt Blue"));
    QTest::mouseClick(cobalt, Qt::LeftButton);
    EXPECT_EQ(Core::shared().colorTheme(), 18);
    EXPECT_EQ(UserDefaults::standard().integerForKey(QStringLiteral("theme")), 18);
    EXPECT_EQ(window.palette().color(QPalette::Window), toQColor(Themeset::backgroundColorForTheme(18)));

    QTest::mouseClick(controller.fontButton(), Qt::LeftButton);
    settle();
    ASSERT_NE(controller.fontController(), nullptr);
    controller.fontController()->tableBridge()->selectRow(3, FontViewController::Typefaces);
    EXPECT_EQ(UserDefaults::standard().integerForKey(QStringLiteral("typeface")), 4);
    EXPECT_EQ(Core::shared().typeFace(), 4);

    popover->close();
    settle();
    EXPECT_EQ(shell->popOverController(), nullptr) << "a closed popover is deleted";
    Core::shared().setColorTheme(0);
    Core::shared().setTypeFace(0);
}
