#include "EditorTestSupport.h"

#include "UiScenes.h"
#include "panes/ListViewController.h"
#include "views/AttributedLabel.h"

namespace {

TEST(ShellList, ANewNoteJoinsTheListAtItsFirstSaveAndItsRowFollowsTheTyping)
{
    sharedTestCore();
    TestSupport::VirtualTime time;
    QDir(Note::documentDirectoryForStorage(NoteStorageInbox)).removeRecursively();
    ShellWindow main({1000, 600});
    RootWindow& window = main.window;
    RootViewController* shell = main.shell;
    ListViewController& list = *shell->listController();
    const auto frame = [&](QWidget* pane) { return QRect(pane->mapTo(shell->view(), QPoint(0, 0)), pane->size()); };
    EXPECT_LT(frame(shell->folderController()->view()).right(), frame(list.view()).left());
    EXPECT_LT(frame(list.view()).right(), frame(shell->noteController()->view()).left());

    main.newNote();
    NoteTextView* text = main.editor();
    QTest::keyClicks(text, QStringLiteral("Shopping list"));
    time.advance(2);
    Dispatch::waitUntilIdle();
    ASSERT_FALSE(list.items().isEmpty());
    const QString key = list.items().first()->key();
    EXPECT_EQ(key, shell->noteController()->warehouse()->editingNote()->key());

    QTest::keyClicks(text, QStringLiteral(" for Friday"));
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    EXPECT_EQ(list.items().first()->key(), key);
    EXPECT_EQ(list.items().first()->title(), QStringLiteral("Shopping list for Friday"));
    auto* cell = dynamic_cast<ListEntryCell*>(list.tableBridge()->rowView(0, ListViewController::Notes, false));
    ASSERT_TRUE(cell && cell->titleLabel()->attributedText());
    EXPECT_TRUE(cell->titleLabel()->attributedText()->string().startsWith(QStringLiteral("Shopping list for Friday")));

    // The first row starts right below the toolbar strip, shown or hidden, as the other panes' content does.
    for (const bool toolbar : {true, false}) {
        SCOPED_TRACE(toolbar ? "toolbar shown" : "toolbar hidden");
        window.setToolbarVisible(toolbar);
        QApplication::processEvents();
        TableView& table = *list.tableView();
        const QRect row = table.rectOfRow(list.tableBridge()->rowForRow(0, ListViewController::Notes));
        const QPoint top = table.viewport()->mapTo(shell->view(), row.topLeft());
        EXPECT_EQ(top.y(), window.contentLayoutRect().top());
        EXPECT_EQ(window.contentLayoutRect().top() > 0, toolbar);
        // The top shadow fades the strip, never the first row's title.
        const QRect shadow = list.shadowView()->geometry();
        EXPECT_LE(shadow.top() + shadow.height(), table.viewport()->mapTo(list.view(), row.topLeft()).y());
        EXPECT_EQ(shadow.height() > 0, toolbar);
    }
}

TEST(ListScenes, BuildAnOpenRowAnArmedRowAndTheEmptyList)
{
    sharedTestCore();
    for (const char* name : {"list-open-row", "list-armed-row", "list-empty"}) {
        SCOPED_TRACE(name);
        const std::unique_ptr<QWidget> scene = UiScenes::build(QString::fromLatin1(name));
        ASSERT_NE(scene, nullptr);
        auto* list = scene->findChild<QWidget*>(QStringLiteral("list"));
        ASSERT_NE(list, nullptr);
        QList<int> states;
        for (const QWidget* child : scene->findChildren<QWidget*>())
            if (const auto* cell = dynamic_cast<const ListEntryCell*>(child);
                cell && cell->isVisible() && cell->dragState() != ListEntryCell::Resting)
                states << cell->dragState();
        const QLatin1String scene_(name);
        EXPECT_EQ(states, scene_ == QLatin1String("list-empty")       ? QList<int>{}
                          : scene_ == QLatin1String("list-armed-row") ? QList<int>{ListEntryCell::Armed}
                                                                      : QList<int>{ListEntryCell::Dragging});
    }
}

} // namespace
