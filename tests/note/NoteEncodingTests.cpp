#include "NoteTestSupport.h"

#include "TrashedCopies.h"

namespace {

using NoteStoreEncoding = NoteStoreTest;

bool write(const NotePtr& note)
{
    bool written = false;
    note->writeText([&](bool ok) { written = ok; });
    return written;
}

// A note read through anything but UTF-8 keeps its original bytes in the
// Trash before its first rewrite (once); one with stray invalid bytes is not
// written at all until its text is accepted as read.
TEST_F(NoteStoreEncoding, ANoteReadThroughAFallbackKeepsItsOriginalBytes)
{
    const struct {
        const char* name;
        QByteArray bytes;
        QString text;
        bool caution;
        int copies;
    } cases[] = {
        {"UTF-8", "caf\xC3\xA9 plan", u"café plan"_qs, false, 0},
        {"stray byte", "caf\xC3\xA9 na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC \xFF", u"café naïve 日本 \uFFFD"_qs, true, 1},
        {"Windows-1252", "caf\xE9 cr\xE8me", u"café crème"_qs, false, 1},
        {"UTF-16 with mark", QByteArray("\xFF\xFE" "h\0\xE9\0", 6), u"hé"_qs, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString key = QString::fromUtf8(c.name) + QStringLiteral(".txt");
        const QString path = Note::documentFileForKey(key, NoteStorageInbox);
        TestSupport::writeFile(path, c.bytes);
        const auto note = std::make_shared<Note>(key, NoteStorageInbox);
        ASSERT_TRUE(note->restoreText());
        EXPECT_EQ(note->text(), c.text);
        EXPECT_EQ(!note->readCaution().isEmpty(), c.caution);
        note->setText(c.text + QStringLiteral(" edited"));
        if (c.caution) {
            EXPECT_FALSE(write(note));
            EXPECT_EQ(TestSupport::readFile(path), c.bytes);
            note->acceptReadText();
        }
        ASSERT_TRUE(write(note));
        EXPECT_EQ(TestSupport::readFile(path), (c.text + QStringLiteral(" edited")).toUtf8());
        EXPECT_EQ(trashedCopies(c.bytes), c.copies);
        note->setText(c.text + QStringLiteral(" again"));
        ASSERT_TRUE(write(note));
        EXPECT_EQ(trashedCopies(c.bytes), c.copies) << "kept once";
    }
}

} // namespace
