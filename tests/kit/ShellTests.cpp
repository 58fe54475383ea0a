#include "KitTestSupport.h"

#include "UiScenes.h"
#include "kit/Image.h"
#include "kit/QtColor.h"
#include "shell/IntroViewController.h"
#include "shell/PushSegue.h"
#include "shell/RootWindow.h"
#include "views/ToolbarButton.h"
#include "views/ToolbarView.h"

#include "Themes/Themeset.h"

#include <QMoveEvent>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// Records where a widget is moved to.
class MoveLog : public QObject {
public:
    explicit MoveLog(QWidget* widget) { widget->installEventFilter(this); }
    QList<int> xs;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Move)
            xs.append(static_cast<QMoveEvent*>(event)->pos().x());
        return false;
    }
};

TEST(KitPush, SlidesTheNewPageInAndTheOldOneAQuarterAwayThenBack)
{
    QWidget frame;
    frame.resize(480, 300);
    auto* first = new RecordingController;
    first->setParent(&frame);
    first->view()->setParent(&frame);
    first->view()->setGeometry(0, 0, 240, 300);
    frame.show();
    QPointer<RecordingController> second = new RecordingController;
    MoveLog moves(second->view());

    PushSegue(*first, second).perform();
    EXPECT_EQ(first->view()->x(), -60);
    EXPECT_EQ(second->view()->geometry(), QRect(0, 0, 240, 300));
    EXPECT_EQ(moves.xs, QList<int>({240, 0}));
    EXPECT_EQ(second->parentViewController(), first);
    EXPECT_EQ(second->view()->parentWidget(), &frame);
    settle();
    EXPECT_TRUE(first->view()->isHidden());

    first->dismissViewController(second);
    EXPECT_TRUE(first->view()->isVisible());
    EXPECT_EQ(first->view()->geometry(), QRect(0, 0, 240, 300));
    EXPECT_EQ(second->view()->x(), 240);
    settle();
    EXPECT_TRUE(second.isNull());
    EXPECT_TRUE(first->childViewControllers().isEmpty());
    EXPECT_EQ(frame.childAt(10, 10), first->view());
}

struct IntroDelegate : IntroViewControllerDelegate {
    void introControllerDismissDidTap(IntroViewController&) override { ++dismissed; }
    void introControllerDidTryQuickOpen(IntroViewController&) override { ++quickOpened; }
    int dismissed = 0;
    int quickOpened = 0;
};

TEST(KitIntro, ReturnPressesCloseAndQuickOpenGoesToTheDelegate)
{
    QWidget window;
    IntroDelegate delegate;
    auto* intro = new IntroViewController(&window);
    intro->setDelegate(&delegate);
    (new QVBoxLayout(&window))->addWidget(intro->view());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_TRUE(intro->closeButton()->isDefault());
    QTest::keyClick(&window, Qt::Key_Return);
    // A shortcut presses the button visibly at once; its click follows on Qt's own timer.
    EXPECT_TRUE(intro->closeButton()->isDown());
    intro->closeButton()->click();
    EXPECT_EQ(delegate.dismissed, 1);
    QObject sender;
    EXPECT_TRUE(ResponderChain::sendAction(Selector("openQuickly:"), nullptr, &sender, &window));
    EXPECT_EQ(delegate.quickOpened, 1);
}

TEST(KitIntro, HintWordsKeepThemeZerosTintAndTheTextIsCentred)
{
    QTextDocument hint;
    hint.setHtml(IntroViewController::hintText());
    const QString text = hint.toPlainText();
    const QColor tint = toQColor(Themeset::tintColorForTheme(0));
    EXPECT_NE(tint, toQColor(Themeset::tintColorForTheme(3))); // another theme would show
    const auto colourAt = [&](qsizetype position) {
        QTextCursor cursor(&hint);
        cursor.setPosition(int(position) + 1);
        return cursor.charFormat().foreground().color();
    };
    for (const QString& word : {QStringLiteral("#hashtag"), QStringLiteral("@mention")}) {
        const qsizetype at = text.indexOf(word);
        ASSERT_GE(at, 0);
        EXPECT_EQ(colourAt(at), tint) << qPrintable(word);
        EXPECT_EQ(colourAt(at + word.size() - 2), tint) << qPrintable(word);
    }
    EXPECT_NE(colourAt(text.indexOf(QStringLiteral("Notes"))), tint);
    EXPECT_NE(colourAt(text.indexOf(QStringLiteral("grouped"))), tint);
    EXPECT_EQ(hint.begin().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
}

TEST(KitScenes, EveryNamedSceneRendersAndTheWindowWearsItsTheme)
{
    for (const QString& name : UiScenes::names())
        EXPECT_TRUE(UiScenes::build(name)) << qPrintable(name);
    EXPECT_FALSE(UiScenes::build(QStringLiteral("no-such-scene")));

    const struct {
        const char* scene;
        ThemeID theme;
    } cases[] = {{"window-white", 0}, {"window-charcoal", 2}};
    for (const auto& c : cases) {
        const std::unique_ptr<QWidget> scene = UiScenes::build(QString::fromLatin1(c.scene));
        auto* window = dynamic_cast<RootWindow*>(scene.get());
        ASSERT_NE(window, nullptr);
        const QImage shot = window->grab().toImage();
        const QPoint content = window->centralWidget()->geometry().center();
        EXPECT_EQ(shot.pixelColor(content).rgb(), toQColor(Themeset::backgroundColorForTheme(c.theme)).rgb()) << c.scene;
        const QString stem = Themeset::resourceNameForTheme(c.theme);
        EXPECT_EQ(window->createNoteButton()->mouseUpImage().cacheKey(), Image::named(stem + "-plus", window->devicePixelRatioF()).cacheKey());
        // With the sidebar shown, the sidebar button's resting image is the selected one.
        EXPECT_EQ(window->toggleSideBarButton()->mouseUpImage().cacheKey(),
                  Image::named(stem + "-sidebar-selected", window->devicePixelRatioF()).cacheKey());
        const QRect strip = window->toolbar()->geometry();
        EXPECT_EQ(strip.height(), RootWindow::StripHeight);
        EXPECT_EQ(window->contentLayoutRect().top(), RootWindow::StripHeight);
    }
}

} // namespace
