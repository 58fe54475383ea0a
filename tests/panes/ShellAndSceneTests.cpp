#include "EditorTestSupport.h"

#include "UiScenes.h"
#include "kit/QtColor.h"

namespace {

TEST(Shell, ATagTypedInTheEditorIsDrawnInTheSidebarOnceTheNoteIsSaved)
{
    // Notes under 32 characters are saved when their editing ends, longer ones by the autosave too.
    const struct {
        const char* name;
        QString typed;
        QString tag;
        bool endEditing;
    } cases[] = {
        {"autosaved", QStringLiteral("Weekend plans for the family #idea"), QStringLiteral("#idea"), false},
        {"short, Return after the tag", QStringLiteral("Later #soon\n- hike"), QStringLiteral("#soon"), true},
    };
    TestSupport::VirtualTime time;
    ShellWindow main;
    const NoteTextView* editor = main.editor();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(main.drawnSidebarEntries().contains(c.tag));
        main.newNote();
        const int cut = int(c.typed.indexOf(c.tag)) + int(c.tag.size());
        main.type(c.typed.left(cut));
        time.advance(3);
        main.type(c.typed.mid(cut));
        EXPECT_EQ(editor->string(), c.typed);
        const NotePtr note = main.note();
        if (c.endEditing)
            main.newNote();
        time.advance(2);
        Dispatch::waitUntilIdle();
        EXPECT_TRUE(main.drawnSidebarEntries().contains(c.tag)) << main.drawnSidebarEntries().join(u',').toStdString();
        EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(note->key(), NoteStorageInbox)), c.typed.toUtf8());
    }
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
