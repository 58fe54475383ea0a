#include "ShellTestSupport.h"

#include "panes/FindBar.h"
#include "views/ToolbarButton.h"
#include "views/ToolbarView.h"

#include <QScrollBar>

namespace {

QRect inWindow(QWidget* widget)
{
    return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

TEST_F(ShellTest, TheEditorItsScrollBarAndItsFindBarStayClearOfTheToolbar)
{
    QString text;
    for (int i = 0; i < 80; ++i)
        text += QStringLiteral("line %1\n").arg(i);
    write(QStringLiteral("Long.txt"), text);
    open();
    editor()->setFocus();
    ASSERT_TRUE(root->noteController()->tryToPerform(Selector("performFindPanelAction:"), nullptr));
    settle();
    FindBar* bar = root->noteController()->findBar();
    ASSERT_TRUE(bar->isVisible());
    const struct {
        const char* name;
        QWidget* widget;
    } parts[] = {{"find bar", bar}, {"text", editor()->viewport()}, {"scroll bar", editor()->verticalScrollBar()}};
    for (const bool toolbarShown : {true, false}) {
        SCOPED_TRACE(toolbarShown);
        window->setToolbarVisible(toolbarShown);
        settle();
        const int toolbarBottom = toolbarShown ? inWindow(window->toolbar()).bottom() : inWindow(window->centralWidget()).top() - 1;
        for (const auto& part : parts) {
            SCOPED_TRACE(part.name);
            const QRect at = inWindow(part.widget);
            if (toolbarShown) {
                EXPECT_FALSE(at.intersects(inWindow(window->createNoteButton())));
                EXPECT_FALSE(at.intersects(inWindow(window->themeButton())));
            }
            EXPECT_GT(at.top(), toolbarBottom);
        }
        // Without the toolbar nothing is left above the editor.
        if (!toolbarShown) {
            EXPECT_EQ(inWindow(bar).top(), toolbarBottom + 1);
        }
    }
}

} // namespace
