#include "Store/Note.h"

#include <gtest/gtest.h>

namespace {

const QString D = QStringLiteral("/home/u/Documents/Brindlewick");
const QString C = QStringLiteral("/home/u/.cache/brindlewick/V5");

class NoteStorePaths : public ::testing::Test {
protected:
    void SetUp() override { Note::setRootDirectories(D, C); }
    void TearDown() override { Note::setRootDirectories(QString(), QString()); }
};

} // namespace

TEST_F(NoteStorePaths, EveryPathOfTheTree)
{
    const QString key = QStringLiteral("Shopping list.txt");
    const struct {
        QString actual;
        QString expected;
    } table[] = {
        {Note::documentFileForKey(key, NoteStorageInbox), D + "/Home/Shopping list.txt"},
        {Note::documentFileForKey(key, NoteStorageArchive), D + "/Archive/Shopping list.txt"},
        {Note::metaFileForKey(key, NoteStorageInbox), C + "/Meta/Inbox/Shopping list.txt"},
        {Note::headerFileForKey(key, NoteStorageArchive), C + "/Head/Archive/Shopping list.txt"},
        {Note::indexFileForKey(key, NoteStorageInbox), C + "/Index/Inbox/Shopping list.txt"},
        {Note::linkFileForKey(key, NoteServiceCloudKit, NoteStorageInbox), C + "/Link/CloudKit/Inbox/Shopping list.txt"},
        {Note::linkFileForKey(key, NoteServiceTrash, NoteStorageArchive), C + "/Link/Trash/Archive/Shopping list.txt"},
        {Note::documentDirectoryForStorage(NoteStorageInbox), D + "/Home"},
        {Note::documentDirectoryForStorage(NoteStorageArchive), D + "/Archive"},
        {Note::metaDirectoryForStorage(NoteStorageArchive), C + "/Meta/Archive"},
        {Note::headerDirectoryForStorage(NoteStorageInbox), C + "/Head/Inbox"},
        {Note::indexDirectoryForStorage(NoteStorageArchive), C + "/Index/Archive"},
        {Note::linkDirectoryForService(NoteServiceCloud), C + "/Link/Cloud"},
        {Note::linkDirectoryForService(NoteServiceCloud, NoteStorageArchive), C + "/Link/Cloud/Archive"},
        {Note::linkDirectoryForTag(NoteTagMention), C + "/Link/Mention"},
        {Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("ToDo")), C + "/Link/Hashtag/todo"},
        {Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("TODO")), C + "/Link/Hashtag/todo"},
        {Note::linkDirectoryForTag(NoteTagHashtag, QStringLiteral("ToDo"), NoteStorageArchive),
         C + "/Link/Hashtag/todo/Archive"},
        {Note::metaFileForTag(NoteTagHashtag, QStringLiteral("ToDo")), C + "/Link/Hashtag/todo/.meta"},
        {Note::metaFileForTag(NoteTagMention, QStringLiteral("ÉLODIE")), C + "/Link/Mention/élodie/.meta"},
    };
    for (const auto& row : table)
        EXPECT_EQ(row.actual, row.expected);
}

TEST_F(NoteStorePaths, NamesAndReverseLookups)
{
    for (int storage : {NoteStorageInbox, NoteStorageArchive}) {
        EXPECT_EQ(Note::storageKeyForResourceName(Note::resourceNameForStorage(storage)), storage);
        EXPECT_EQ(Note::storageKeyForSearchName(Note::searchNameForStorage(storage)), storage);
    }
    const struct {
        const char* name;
        int resource;
        int search;
    } names[] = {
        {"Home", NoteStorageInbox, 0}, {"Inbox", NoteStorageInbox, 0}, {"Archive", NoteStorageArchive, 0},
        {"home", 0, NoteStorageInbox}, {"inbox", 0, NoteStorageInbox}, {"archive", 0, NoteStorageArchive},
        {"Trash", 0, 0},               {"", 0, 0},                     {"Archive ", 0, 0},
    };
    for (const auto& n : names) {
        EXPECT_EQ(Note::storageKeyForResourceName(QString::fromLatin1(n.name)), n.resource) << n.name;
        EXPECT_EQ(Note::storageKeyForSearchName(QString::fromLatin1(n.name)), n.search) << n.name;
    }

    EXPECT_EQ(Note::localizedNameForStorage(NoteStorageInbox), QStringLiteral("All Notes"));
    EXPECT_EQ(Note::localizedNameForStorage(NoteStorageArchive), QStringLiteral("Archive"));
    for (int storage : {0, 3, 4, 5})
        EXPECT_TRUE(Note::localizedNameForStorage(storage).isNull()) << storage;
    // The spelling shown keeps its case; the folder does not.
    EXPECT_EQ(Note::localizedNameForHashtag(QStringLiteral("Work")), QStringLiteral("#Work"));
    EXPECT_EQ(Note::localizedNameForMention(QStringLiteral("Ann")), QStringLiteral("@Ann"));
    EXPECT_EQ(Note::localizedAccessibilityLabelForHashtag(QStringLiteral("work")), QStringLiteral("work Hashtag"));
    EXPECT_EQ(Note::localizedAccessibilityLabelForMention(QStringLiteral("ann")), QStringLiteral("Mention ann"));
}

TEST_F(NoteStorePaths, NamesThatCouldLeaveTheirFolderGiveNoPath)
{
    const QString tooLong = QString(86, QChar(0x6771)); // 258 UTF-8 bytes in 86 characters
    const QString longest = QString(85, QChar(0x6771)); // 255 bytes: still one file name
    for (const QString& name : {QString(), QStringLiteral(""), QStringLiteral("."), QStringLiteral(".."),
                                QStringLiteral("../../etc/passwd"), QStringLiteral("a/b"),
                                QStringLiteral("a") + QChar(0) + QStringLiteral("b"), tooLong}) {
        SCOPED_TRACE(name.toStdString());
        if (!name.isNull()) {
            EXPECT_TRUE(Note::documentFileForKey(name, NoteStorageInbox).isEmpty());
            EXPECT_TRUE(Note::metaFileForKey(name, NoteStorageInbox).isEmpty());
            EXPECT_TRUE(Note::headerFileForKey(name, NoteStorageInbox).isEmpty());
            EXPECT_TRUE(Note::indexFileForKey(name, NoteStorageArchive).isEmpty());
        }
        EXPECT_TRUE(Note::linkFileForKey(name, NoteServiceCloud, NoteStorageInbox).isEmpty());
        EXPECT_TRUE(Note::linkDirectoryForTag(NoteTagHashtag, name).isEmpty());
        EXPECT_TRUE(Note::linkDirectoryForTag(NoteTagHashtag, name, NoteStorageInbox).isEmpty());
        EXPECT_TRUE(Note::metaFileForTag(NoteTagMention, name).isEmpty());
    }
    EXPECT_EQ(Note::documentFileForKey(longest, NoteStorageInbox), D + "/Home/" + longest);
    EXPECT_EQ(Note::documentFileForKey(QStringLiteral("..hidden"), NoteStorageInbox), D + "/Home/..hidden");
}

// A root ending in a slash takes no second one.
TEST(NoteStorePathsUnderSlashedRoots, JoinWithOneSeparator)
{
    Note::setRootDirectories(QStringLiteral("/"), QStringLiteral("/cache/"));
    EXPECT_EQ(Note::documentFileForKey(QStringLiteral("a.txt"), NoteStorageInbox), QStringLiteral("/Home/a.txt"));
    EXPECT_EQ(Note::metaFileForKey(QStringLiteral("a.txt"), NoteStorageArchive), QStringLiteral("/cache/Meta/Archive/a.txt"));
    Note::setRootDirectories(QString(), QString());
}

TEST(NoteStorePathsWithoutRoots, GiveNoPathRatherThanARelativeOne)
{
    Note::setRootDirectories(QString(), QString());
    EXPECT_TRUE(Note::documentFileForKey(QStringLiteral("a.txt"), NoteStorageInbox).isEmpty());
    EXPECT_TRUE(Note::metaFileForKey(QStringLiteral("a.txt"), NoteStorageInbox).isEmpty());
    EXPECT_TRUE(Note::linkDirectoryForTag(NoteTagHashtag).isEmpty());
}

#ifdef QT_NO_DEBUG
TEST_F(NoteStorePaths, UnknownNumbersGiveNoNameAndNoPath)
{
    EXPECT_TRUE(Note::resourceNameForStorage(3).isEmpty());
    EXPECT_TRUE(Note::searchNameForStorage(0).isEmpty());
    EXPECT_TRUE(Note::resourceNameForService(4).isEmpty());
    EXPECT_TRUE(Note::resourceNameForTag(1).isEmpty());
    EXPECT_TRUE(Note::documentFileForKey(QStringLiteral("a.txt"), 4).isEmpty());
    EXPECT_TRUE(Note::linkFileForKey(QStringLiteral("a.txt"), 0, NoteStorageInbox).isEmpty());
    EXPECT_TRUE(Note::linkDirectoryForTag(NoteStorageInbox, QStringLiteral("x")).isEmpty());
}
#else
TEST_F(NoteStorePaths, UnknownNumbersAreProgrammingErrors)
{
    EXPECT_DEATH(Note::resourceNameForStorage(3), "Note::resourceNameForStorage");
    EXPECT_DEATH(Note::resourceNameForService(0), "Note::resourceNameForService");
    EXPECT_DEATH(Note::documentFileForKey(QString(), NoteStorageInbox), "key != nil");
}
#endif
