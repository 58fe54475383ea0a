#include "EditorTestSupport.h"

#include "InterimShell.h"
#include "UiScenes.h"
#include "kit/QtColor.h"
#include "shell/RootWindow.h"

#include "UserDefaults.h"

#include <QDirIterator>

namespace {

QStringList notesInHome()
{
    QStringList names;
    for (QDirIterator it(Note::documentDirectoryForStorage(NoteStorageInbox), QDir::Files); it.hasNext();)
        names.append(QFileInfo(it.next()).fileName());
    return names;
}

QString textOf(const QString& name)
{
    return QString::fromUtf8(TestSupport::readFile(Note::documentFileForKey(name, NoteStorageInbox)));
}

TEST(InterimShell, ReopensTheLastNoteAndSavesWhatIsTypedIntoANewOne)
{
    sharedTestCore();
    AnimationContext::setTestMode(true);
    TestSupport::VirtualTime time;
    TestSupport::writeFile(Note::documentFileForKey(QStringLiteral("Last.txt"), NoteStorageInbox), "last note");
    UserDefaults::standard().setString(QStringLiteral("Last.txt"), QStringLiteral("selectedNoteKey"));
    UserDefaults::standard().setInteger(NoteStorageInbox, QStringLiteral("selectedNoteStorage"));

    RootWindow window;
    auto* shell = new InterimShell;
    window.setContentViewController(shell);
    shell->start();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    Dispatch::waitUntilIdle();
    NoteTextView* view = shell->noteController().textView();
    EXPECT_EQ(view->string(), QStringLiteral("last note"));

    ASSERT_TRUE(window.tryToPerform(Selector("newDocument:"), nullptr));
    Dispatch::waitUntilIdle();
    EXPECT_EQ(view->string(), QString());
    EXPECT_TRUE(view->hasFocus());
    const QStringList before = notesInHome();
    QTest::keyClicks(view, QStringLiteral("Groceries for the week ahead"));
    time.advance(2);
    QStringList added = notesInHome();
    for (const QString& name : before)
        added.removeAll(name);
    ASSERT_EQ(added.size(), 1);
    EXPECT_EQ(textOf(added.first()), QStringLiteral("Groceries for the week ahead"));
}

TEST(InterimShell, ATagTypedInTheEditorAppearsInTheSidebarAfterTheAutosave)
{
    sharedTestCore();
    AnimationContext::setTestMode(true);
    TestSupport::VirtualTime time;
    RootWindow window;
    auto* shell = new InterimShell;
    window.setContentViewController(shell);
    shell->start();
    window.resize(900, 600);
    window.show();
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    FolderViewController& sidebar = shell->folderController();
    EXPECT_LT(sidebar.view()->geometry().right(), shell->noteController().view()->geometry().left());
    ASSERT_FALSE(sidebar.hashtags().contains(QStringLiteral("idea")));

    ASSERT_TRUE(window.tryToPerform(Selector("newDocument:"), nullptr));
    Dispatch::waitUntilIdle();
    QTest::keyClicks(shell->noteController().textView(), QStringLiteral("Later #idea"));
    time.advance(2);
    Dispatch::waitUntilIdle();
    EXPECT_TRUE(sidebar.hashtags().contains(QStringLiteral("idea")));
    EXPECT_EQ(sidebar.tableBridge()->totalRows(), sidebar.tableView()->numberOfRows());
}

TEST(EditorScenes, ShowTheSampleNoteInEachTheme)
{
    sharedTestCore();
    for (const auto& [name, theme] : {std::pair{"editor-white", 0}, std::pair{"editor-charcoal", 2}}) {
        SCOPED_TRACE(name);
        const std::unique_ptr<QWidget> scene = UiScenes::build(QString::fromLatin1(name));
        ASSERT_NE(scene, nullptr);
        auto* text = scene->findChild<NoteTextView*>();
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(text->string().startsWith(QStringLiteral("# Harbour walk")));
        const QImage shot = text->viewport()->grab().toImage();
        const QColor background = toQColor(Themeset::backgroundColorForTheme(theme));
        EXPECT_EQ(shot.pixelColor(shot.width() - 5, shot.height() - 5), background);
        QTextCursor second(text->document());
        second.setPosition(int(text->string().indexOf(QStringLiteral("A short"))));
        const int y = text->cursorRect(second).center().y();
        int inked = 0;
        for (int x = 80; x < 400; ++x)
            inked += shot.pixelColor(x, y) != background;
        EXPECT_GT(inked, 10) << "the second line of text is drawn";
    }
}

} // namespace
