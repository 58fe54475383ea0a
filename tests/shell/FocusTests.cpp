#include "ShellTestSupport.h"

#include "kit/MenuItem.h"

#include <QClipboard>
#include <QMenuBar>

namespace {

QMenu* menuTitled(RootWindow& window, const QString& title)
{
    for (QAction* action : window.menuBar()->actions())
        if (action->text().remove(QLatin1Char('&')) == title)
            return action->menu();
    return nullptr;
}

TEST_F(ShellTest, AMenuClosedWithEscapeGivesTheKeysBackToTheEditor)
{
    open();
    shown->newNote();
    type(QStringLiteral("Hello there"));
    QApplication::clipboard()->setText(QStringLiteral("clip"));
    editor()->setFocus();
    editor()->setSelectedRange({0, 5});
    ASSERT_EQ(QApplication::focusWidget(), editor());
    for (const char* title : {"Edit", "Format"}) {
        SCOPED_TRACE(title);
        QMenu* menu = menuTitled(*window, QString::fromLatin1(title));
        ASSERT_TRUE(menu);
        QMenuBar* bar = window->menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
        ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }));
        QTest::keyClick(menu, Qt::Key_Escape);
        settle();
        EXPECT_FALSE(menu->isVisible());
        EXPECT_EQ(window->focusWidget(), editor());
        for (const char* selector : {"undo:", "copy:", "paste:", "makeBold:"}) {
            MenuItem* item = MenuItem::find(bar, Selector(selector));
            ASSERT_TRUE(item);
            EXPECT_TRUE(item->isEnabled()) << selector;
        }
    }
    type(QStringLiteral("X"));
    EXPECT_TRUE(editor()->string().startsWith(QStringLiteral("X there")));
}

} // namespace
