#include "SearchTestSupport.h"

#include <QFile>

namespace {

using Search = SearchTest;

// A tag folder as the commit leaves it, with its shown spelling when given.
void makeTag(int kind, const QString& folder, const QString& spelling = QString())
{
    QDir().mkpath(Note::linkDirectoryForTag(kind, folder, NoteStorageInbox));
    if (!spelling.isNull())
        TestSupport::writeFile(Note::metaFileForTag(kind, folder), spelling.toUtf8());
}

Note::ListItemList searchTags(const QString& query, int kind)
{
    Note::ListItemList found;
    int calls = 0;
    Note::searchTagWithQuery(query, kind, [&](const Note::ListItemList& items) {
        found = items;
        ++calls;
    });
    EXPECT_EQ(calls, 1);
    return found;
}

QStringList titles(const Note::ListItemList& items)
{
    QStringList out;
    for (const ListItemPtr& item : items)
        out.append(item->title());
    return out;
}

TEST_F(Search, TagSearchShowsTheSpellingOfMetaFiles)
{
    makeTag(NoteTagHashtag, QStringLiteral("work"), QStringLiteral("Work"));
    makeTag(NoteTagHashtag, QStringLiteral("wombat"));
    makeTag(NoteTagHashtag, QStringLiteral("wood"), QStringLiteral("Timber"));
    makeTag(NoteTagHashtag, QStringLiteral("cake"), QStringLiteral("Cake"));
    TestSupport::writeFile(Note::linkDirectoryForTag(NoteTagHashtag) + QStringLiteral("/.hidden"), "x");

    const Note::ListItemList found = searchTags(QStringLiteral("#wo"), NoteTagHashtag);
    ASSERT_EQ(titles(found).size(), 2);
    EXPECT_TRUE(titles(found).contains(QStringLiteral("#Work")));
    EXPECT_TRUE(titles(found).contains(QStringLiteral("#wombat")));
    for (const ListItemPtr& item : found) {
        EXPECT_EQ(item->tag(), ListItemTagEntry);
        EXPECT_EQ(QLatin1Char('#') + item->key(), item->title());
        EXPECT_EQ(item->snippet(), QStringLiteral("#wo"));
        EXPECT_EQ(item->storage(), NoteTagHashtag);
        EXPECT_EQ(item->score(), Score::scoreAgainst(QLatin1Char('#') + item->key().toLower(), QStringLiteral("#wo"),
                                                     std::nullopt, ScoreOptionDivideByStringLength));
    }
    EXPECT_GE(found.at(0)->score(), found.at(1)->score());
}

TEST_F(Search, TagSearchRanksBestFirstAndKeepsKindsApart)
{
    makeTag(NoteTagMention, QStringLiteral("anna"), QStringLiteral("Anna"));
    makeTag(NoteTagMention, QStringLiteral("annabel-smith-jones"));
    makeTag(NoteTagHashtag, QStringLiteral("annual"));

    const Note::ListItemList found = searchTags(QStringLiteral("@ann"), NoteTagMention);
    EXPECT_EQ(titles(found), (QStringList{"@Anna", "@annabel-smith-jones"}));
    ASSERT_EQ(found.size(), 2);
    EXPECT_GT(found.at(0)->score(), found.at(1)->score());
    EXPECT_EQ(found.at(0)->storage(), NoteTagMention);
    EXPECT_TRUE(searchTags(QStringLiteral("@ann"), NoteTagHashtag).isEmpty());
}

TEST_F(Search, TagSearchSkipsUnreadableSpellingsAndMissingFolders)
{
    EXPECT_TRUE(searchTags(QStringLiteral("#a"), NoteTagHashtag).isEmpty());

    makeTag(NoteTagHashtag, QStringLiteral("alpha"));
    // A ".meta" that cannot be read as a file drops the tag.
    QDir().mkpath(Note::metaFileForTag(NoteTagHashtag, QStringLiteral("alpha")));
    makeTag(NoteTagHashtag, QStringLiteral("avocado"), QStringLiteral("AVOCADO"));
    EXPECT_EQ(titles(searchTags(QStringLiteral("#a"), NoteTagHashtag)), QStringList{"#AVOCADO"});
    EXPECT_TRUE(searchTags(QString(), NoteTagHashtag).isEmpty());
}

TEST_F(Search, StorageSearchMatchesAllAndArchive)
{
    Note::ListItemList found;
    Note::searchStorageWithQuery(QStringLiteral("arc"), [&](const Note::ListItemList& items) { found = items; });
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.first()->tag(), ListItemTagEntry);
    EXPECT_TRUE(found.first()->key().isNull());
    EXPECT_EQ(found.first()->title(), QStringLiteral("Archive"));
    EXPECT_EQ(found.first()->snippet(), QStringLiteral("arc"));
    EXPECT_EQ(found.first()->storage(), NoteStorageArchive);
    EXPECT_GT(found.first()->score(), 0.0);

    Note::searchStorageWithQuery(QStringLiteral("a"), [&](const Note::ListItemList& items) { found = items; });
    ASSERT_EQ(found.size(), 2);
    EXPECT_GE(found.at(0)->score(), found.at(1)->score());
    EXPECT_EQ(titles(found).size(), 2);
    EXPECT_TRUE(titles(found).contains(QStringLiteral("All")));
    for (const ListItemPtr& item : found)
        EXPECT_EQ(item->storage(), item->title() == QStringLiteral("All") ? NoteStorageInbox : NoteStorageArchive);

    int calls = 0;
    Note::searchStorageWithQuery(QStringLiteral("zz"), [&](const Note::ListItemList& items) {
        EXPECT_TRUE(items.isEmpty());
        ++calls;
    });
    EXPECT_EQ(calls, 1);
}

} // namespace
