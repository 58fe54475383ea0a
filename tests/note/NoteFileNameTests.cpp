#include "NoteTestSupport.h"

namespace {

using NoteStoreFileName = NoteStoreTest;

QString inbox()
{
    return Note::documentDirectoryForStorage(NoteStorageInbox);
}

void touch(const QString& name, int storage = NoteStorageInbox)
{
    TestSupport::writeFile(Note::documentFileForKey(name, storage), "x");
}

QString readableName(const QString& text)
{
    Note note;
    note.setText(text);
    return note.findUnusedReadableFileNameForDirectory(inbox());
}

TEST_F(NoteStoreFileName, ReadableNamesFromTitles)
{
    EXPECT_EQ(readableName(QStringLiteral("Shopping list\nmilk")), QStringLiteral("Shopping list.txt"));
    EXPECT_EQ(readableName(QStringLiteral("A# / B++ notes?\nmore")), QStringLiteral("A B notes.txt"));
    EXPECT_EQ(readableName(QStringLiteral("Café 東京 plan notes")), QStringLiteral("Café 東京 plan notes.txt"));
    EXPECT_EQ(readableName(QStringLiteral("123456789")), QStringLiteral("123456789.txt"));
    EXPECT_EQ(readableName(QStringLiteral("12345678")), QStringLiteral("Untitled Note 2024-03-15 at 09-30-12 CET.txt"));

    Note shared;
    shared.setText(QStringLiteral("A# / B++ notes?"));
    EXPECT_EQ(shared.shareBaseName(), QStringLiteral("A B notes"));
    shared.setTitle(QStringLiteral("  it's_a \"test\"\\ok;*<>/x.y  "));
    EXPECT_EQ(shared.shareBaseName(), QStringLiteral("it s a test ok x y"));
}

TEST_F(NoteStoreFileName, TakenNamesGetNumberedVariantsWhateverTheirCase)
{
    touch(QStringLiteral("shopping LIST.txt"));
    EXPECT_EQ(readableName(QStringLiteral("Shopping list")), QStringLiteral("Shopping list 2.txt"));
    touch(QStringLiteral("Shopping list 2.txt"));
    EXPECT_EQ(readableName(QStringLiteral("Shopping list")), QStringLiteral("Shopping list 3.txt"));

    // "é" composed in the folder, decomposed in the title: the same name on a peer.
    touch(QString::fromUtf8("Caf\u00e9 au lait.txt"));
    EXPECT_EQ(readableName(QString::fromUtf8("CAFE\u0301 AU LAIT")), QString::fromUtf8("CAFE\u0301 AU LAIT 2.txt"));

    touch(QStringLiteral("Untitled Note 2024-03-15 at 09-30-12 CET.txt"));
    EXPECT_EQ(readableName(QStringLiteral("Hi")), QStringLiteral("Untitled Note 2024-03-15 at 09-30-12 CET 2.txt"));
}

TEST_F(NoteStoreFileName, AllVariantsTakenFallsBackToPlaceholders)
{
    touch(QStringLiteral("Weekly plan.txt"));
    for (int n = 2; n <= 100; ++n)
        touch(QStringLiteral("Weekly plan %1.txt").arg(n));
    EXPECT_EQ(readableName(QStringLiteral("Weekly plan")), QStringLiteral("Untitled Note 2024-03-15 at 09-30-12 CET.txt"));

    touch(QStringLiteral("Untitled Note 2024-03-15 at 09-30-12 CET.txt"));
    for (int n = 2; n <= 100; ++n)
        touch(QStringLiteral("Untitled Note 2024-03-15 at 09-30-12 CET %1.txt").arg(n));
    EXPECT_EQ(readableName(QStringLiteral("Weekly plan")),
              QStringLiteral("Untitled Note 20240315-083012250-0A1B2C3D-0000-4000-8000-00000000CAFE.txt"));
}

TEST_F(NoteStoreFileName, LongTitlesFitTheFileSystem)
{
    // 99 CJK characters are 297 UTF-8 bytes.
    QString title;
    for (int i = 0; i < 99; ++i)
        title += QChar(0x6771 + i % 7);
    Note note;
    note.setText(title + QStringLiteral("\nbody"));
    const QString name = note.findUnusedReadableFileNameForDirectory(inbox());
    EXPECT_TRUE(name.endsWith(QStringLiteral(".txt")));
    EXPECT_EQ(name.chopped(4), title.left(79)); // whole characters of 3 bytes, 237 of them
    EXPECT_LE((name.chopped(4) + QStringLiteral(" 100.txt")).toUtf8().size(), Note::LongestKeyBytes);

    // The name is really usable: the text file is written under it.
    note.setKey(name);
    bool ok = false;
    note.writeText([&](bool result) { ok = result; });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(QFile::exists(Note::documentFileForKey(name, NoteStorageInbox)));

    // A cut never leaves a letter without its accent: at 239 bytes a byte cut
    // would fall between the third "e" and its combining mark.
    const QString accented = QString(77, QChar(0x6771)) + QString(9, QLatin1Char('x')).replace(
        QLatin1Char('x'), QStringLiteral("e\u0301"));
    Note decomposed;
    decomposed.setText(accented + QStringLiteral("\nbody"));
    const QString base = decomposed.findUnusedReadableFileNameForDirectory(inbox()).chopped(4);
    EXPECT_EQ(base, accented.left(81));
}

// Names of 255 bytes come from other programs; every name made from one
// fits with the storage's resource name in a record name, and keeps whole
// characters of the name it was made from.
TEST_F(NoteStoreFileName, NamesMadeFromALongNameFitTheRecordStoreAndKeepWholeCharacters)
{
    const QString accents = QString(83, QLatin1Char('x')).replace(QLatin1Char('x'), QStringLiteral("e\u0301"));
    const struct {
        const char* what;
        QString key;
    } cases[] = {
        {"251 letters", QString(251, QLatin1Char('w')) + QStringLiteral(".txt")},
        {"83 ideographs", QString(83, QChar(0x6771)) + QStringLiteral(".txt")},
        {"accents", QStringLiteral("a") + accents + QStringLiteral(".txt")},
        {"an emoji", QString(247, QLatin1Char('w')) + QStringLiteral("\U0001F600.txt")},
        {"no extension", QString(255, QLatin1Char('w'))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_LE(c.key.toUtf8().size(), 255);
        ASSERT_TRUE(Note::isSafePathComponent(c.key));
        touch(c.key, NoteStorageArchive);
        const QString made[] = {Note::forkFileName(c.key, QStringLiteral("edit")), Note::fittedKey(c.key),
                                Note::findUnusedFileNameForKey(c.key, NoteStorageArchive)};
        for (const QString& name : made) {
            EXPECT_LE(name.toUtf8().size(), Note::LongestKeyBytes) << name.toStdString();
            EXPECT_NE(name, c.key);
            // The part kept from the key ends where a character does.
            qsizetype kept = 0;
            while (kept < name.size() && name[kept] == c.key[kept])
                ++kept;
            const QChar next = c.key[kept];
            EXPECT_FALSE(next.isLowSurrogate() || next.category() == QChar::Mark_NonSpacing) << name.toStdString();
            EXPECT_GT(name.left(kept).toUtf8().size(), 220) << name.toStdString();
        }
        // A fork is a file like any other, and a fork of it another name again.
        touch(made[0], NoteStorageArchive);
        EXPECT_TRUE(QFile::exists(Note::documentFileForKey(made[0], NoteStorageArchive)));
        EXPECT_NE(Note::forkFileName(made[0], QStringLiteral("edit")), made[0]);
    }
    // Keys that differ only past the cut keep apart.
    const QString stem(250, QLatin1Char('w'));
    EXPECT_NE(Note::fittedKey(stem + QStringLiteral("a.txt")), Note::fittedKey(stem + QStringLiteral("b.txt")));
    EXPECT_EQ(Note::fittedKey(QStringLiteral("Plan.txt")), QStringLiteral("Plan.txt"));
}

TEST_F(NoteStoreFileName, PlaceholderNamesAreClassic)
{
    const QString classic = Note::uniqueClassicKeyFromURL();
    EXPECT_EQ(classic, QStringLiteral("Untitled Note 20240315-083012250-0A1B2C3D-0000-4000-8000-00000000CAFE.txt"));
    for (const QString& name : {classic, QStringLiteral("Untitled Note 2024-03-15 at 09-30-12 CET.txt")})
        EXPECT_FALSE(Note::isReadableFileName(name)) << qPrintable(name);
    for (const char* name : {"Untitled Note.txt", "Untitled Notes 1.txt", "Untitled Note 1.md", "Shopping list.txt"})
        EXPECT_TRUE(Note::isReadableFileName(QString::fromUtf8(name))) << name;
}

TEST_F(NoteStoreFileName, FreeNamesForAKeyInAStorage)
{
    const int archive = NoteStorageArchive;
    EXPECT_EQ(Note::findUnusedFileNameForKey(QStringLiteral("Plan.txt"), archive), QStringLiteral("Plan.txt"));
    touch(QStringLiteral("plan.TXT"), archive);
    EXPECT_EQ(Note::findUnusedFileNameForKey(QStringLiteral("Plan.txt"), archive), QStringLiteral("Plan1.txt"));
    touch(QStringLiteral("Plan1.txt"), archive);
    EXPECT_EQ(Note::findUnusedFileNameForKey(QStringLiteral("Plan1.txt"), archive), QStringLiteral("Plan2.txt"));
    touch(QStringLiteral("Plan 3.txt"), archive);
    EXPECT_EQ(Note::findUnusedFileNameForKey(QStringLiteral("Plan 3.txt"), archive), QStringLiteral("Plan 4.txt"));
    touch(QStringLiteral("2024.txt"), archive);
    EXPECT_EQ(Note::findUnusedFileNameForKey(QStringLiteral("2024.txt"), archive), QStringLiteral("2025.txt"));
    touch(QStringLiteral("README"), archive);
    EXPECT_EQ(Note::findUnusedFileNameForKey(QStringLiteral("README"), archive), QStringLiteral("README1"));
    // The inbox is another folder.
    EXPECT_EQ(Note::findUnusedFileNameForKey(QStringLiteral("Plan.txt"), NoteStorageInbox), QStringLiteral("Plan.txt"));

    touch(QStringLiteral("Log.txt"), archive);
    for (int n = 1; n <= 100; ++n)
        touch(QStringLiteral("Log%1.txt").arg(n), archive);
    EXPECT_EQ(Note::findUnusedFileNameForKey(QStringLiteral("Log.txt"), archive),
              QStringLiteral("Untitled Note 20240315-083012250-0A1B2C3D-0000-4000-8000-00000000CAFE.txt"));
    touch(QStringLiteral("Untitled Note 20240315-083012250-0A1B2C3D-0000-4000-8000-00000000CAFE.txt"), archive);
    EXPECT_TRUE(Note::findUnusedFileNameForKey(QStringLiteral("Log.txt"), archive).isNull());
}

TEST_F(NoteStoreFileName, RemoteFileBecomesAnInboxNote)
{
    const QString outside = TestSupport::home() + QStringLiteral("/Downloads/Trip ideas.md");
    TestSupport::writeFile(outside, QString::fromUtf8("Trip ideas\nLisbon").toLatin1());
    touch(QStringLiteral("Trip ideas.txt"));
    const NotePtr note = Note::noteWithRemoteURL(QUrl::fromLocalFile(outside));
    ASSERT_TRUE(note);
    EXPECT_EQ(note->key(), QStringLiteral("Trip ideas1.txt"));
    EXPECT_EQ(note->storage(), NoteStorageInbox);
    EXPECT_EQ(note->text(), QStringLiteral("Trip ideas\nLisbon"));
    EXPECT_FALSE(QFile::exists(Note::documentFileForKey(QStringLiteral("Trip ideas1.txt"), NoteStorageInbox)));

    EXPECT_FALSE(Note::noteWithRemoteURL(QUrl::fromLocalFile(TestSupport::home() + QStringLiteral("/none.txt"))));
}

} // namespace
