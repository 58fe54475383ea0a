#include "ShellTestSupport.h"

#include "kit/MenuItem.h"
#include "kit/QtColor.h"

#include <QClipboard>
#include <QLineEdit>
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

// The colour drawn at the left end of the table's selected row, away from any text.
QColor selectedRowColour(TableView& table)
{
    QApplication::processEvents();
    const QRect row = table.rectOfRow(table.selectedRow());
    return table.viewport()->grab().toImage().pixelColor(row.left() + 2, row.center().y());
}

// The first list row below another whose height is not 0, in the viewport's coordinates.
QRect firstNoteRow(TableView& table)
{
    for (qsizetype row = 0; row < table.numberOfRows(); ++row)
        if (table.rectOfRow(row).height() > 0)
            return table.rectOfRow(row);
    return {};
}

// Shift-Tab in the editor is the Shift Left command, as Tab indents a list item: the keys stay in
// the note, whichever form of the key the platform sends.
TEST_F(ShellTest, ShiftTabInTheEditorShiftsTheLineLeftAndKeepsTheKeys)
{
    write(QStringLiteral("Other zz.txt"), QStringLiteral("Other zz\nwords"));
    const std::tuple<QString, Qt::Key, Qt::KeyboardModifiers, QString> cases[] = {
        {"- a\n\tb\n", Qt::Key_Backtab, Qt::ShiftModifier, "- a\n\t- b\n- zz"},
        {"- a\n\tb\n", Qt::Key_Tab, Qt::ShiftModifier, "- a\n\t- b\n- zz"},
        {"1. a\n\tb\n", Qt::Key_Backtab, Qt::ShiftModifier, "1. a\n\t1. b\n2. zz"},
        {"\t\tplain ", Qt::Key_Backtab, Qt::ShiftModifier, "\tplain zz"},
        {"plain ", Qt::Key_Backtab, Qt::ShiftModifier, "plain zz"},
    };
    open();
    for (const auto& [typed, key, modifiers, result] : cases) {
        SCOPED_TRACE(qPrintable(typed));
        root->searchField()->setText(QStringLiteral("Other"));
        shown->newNote();
        editor()->setFocus();
        type(typed);
        QTest::keyClick(editor(), key, modifiers);
        settle();
        ASSERT_EQ(window->focusWidget(), editor());
        type(QStringLiteral("zz"));
        EXPECT_EQ(editor()->string(), result);
        EXPECT_EQ(root->searchField()->text(), QStringLiteral("Other"));
    }
}

TEST_F(ShellTest, TheSidebarShowsWhenItHasTheKeys)
{
    for (const ThemeID theme : {ThemeID(0), ThemeID(2)}) {
        SCOPED_TRACE(theme);
        Core::shared().setColorTheme(theme);
        write(QStringLiteral("Plan.txt"), QStringLiteral("Plan\n#work"));
        open();
        TableView& sidebar = *root->folderController()->tableView();
        const QColor focused = toQColor(Themeset::firstResponderHighlightBackgroundColorForTheme(theme));
        root->searchField()->setFocus();
        QTest::keyClick(root->searchField(), Qt::Key_Backtab, Qt::ShiftModifier);
        settle();
        ASSERT_EQ(window->focusWidget(), &sidebar) << "Shift-Tab goes to the sidebar";
        EXPECT_EQ(selectedRowColour(sidebar), focused);
        editor()->setFocus();
        settle();
        EXPECT_NE(selectedRowColour(sidebar), focused);
        shown.reset();
        settle();
    }
}

TEST_F(ShellTest, ReturnOnAListRowGoesToTheEditorAndAClickLeavesTheKeysWhereTheCaretIs)
{
    for (const char* title : {"Apple pie", "Banana bread"})
        write(QString::fromLatin1(title) + QStringLiteral(".txt"), QString::fromLatin1(title) + QStringLiteral("\nrecipe"));
    open();
    TableView& list = *root->listController()->tableView();
    QLineEdit* field = root->searchField();
    for (const bool fieldShown : {true, false}) {
        SCOPED_TRACE(fieldShown);
        window->searchFieldWrapper()->setVisible(fieldShown);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, firstNoteRow(list).center());
        settle();
        QWidget* keys = window->focusWidget();
        EXPECT_EQ(keys, fieldShown ? static_cast<QWidget*>(field) : &list);
        // The caret shows only where the keys go.
        EXPECT_EQ(field->hasFocus(), keys == field);
        QTest::keyClick(keys, Qt::Key_Return);
        settle();
        EXPECT_EQ(window->focusWidget(), editor());
        QTest::keyClicks(editor(), QStringLiteral("Z"));
        EXPECT_TRUE(editor()->string().startsWith(QLatin1Char('Z'))) << "typed into the note";
    }
}

} // namespace
