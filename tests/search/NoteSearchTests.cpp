#include "SearchTestSupport.h"

#include "Store/NoteSearchIndex.h"

#include <random>

namespace {

using Search = SearchTest;

TEST_F(Search, EmptyOrControlOnlyQueryOrNoDatabaseGivesTwoEmptyListsOnce)
{
    addRow(QStringLiteral("Todo.txt"), QStringLiteral("Todo"), QStringLiteral("Todo"));
    // A lone NUL would end the LIKE pattern at "%" and match every row.
    for (const QString& query : {QString(), QString(QChar(0)), QStringLiteral("\t\n"), QStringLiteral("\x01\x1f")}) {
        const Results results = search(query);
        EXPECT_EQ(results.calls, 1) << query.size();
        EXPECT_TRUE(results.notes.isEmpty()) << query.size();
        EXPECT_TRUE(results.archived.isEmpty()) << query.size();
    }
    // Controls around a query are dropped, not matched.
    EXPECT_EQ(rows(search(QStringLiteral("\x01tod")).notes), QStringList{"1:Todo.txt"});

    Results results;
    Note::searchDatabase(*SLDatabase::nullDatabase(), QStringLiteral("todo"),
                         [&](const Note::ListItemList& notes, const Note::ListItemList& archived) {
                             results.notes += notes;
                             results.archived += archived;
                             ++results.calls;
                         });
    EXPECT_EQ(results.calls, 1);
    EXPECT_TRUE(results.notes.isEmpty());
    EXPECT_TRUE(results.archived.isEmpty());
}

TEST_F(Search, QueryIsMatchedAsPrefixUnlessItHasSyntax)
{
    addRow(QStringLiteral("Todo list.txt"), QStringLiteral("Todo list"), QStringLiteral("Todo list eggs"));
    addRow(QStringLiteral("Tomorrow.txt"), QStringLiteral("Tomorrow"), QStringLiteral("Tomorrow"));

    // «tod» is matched as «tod*».
    const Results prefix = search(QStringLiteral("tod"));
    ASSERT_EQ(rows(prefix.notes), QStringList{"1:Todo list.txt"});
    const ListItemPtr& hit = prefix.notes.first();
    EXPECT_EQ(hit->title(), QStringLiteral("Todo list"));
    EXPECT_EQ(hit->snippet(), QStringLiteral("[Todo] list"));
    EXPECT_EQ(hit->storage(), NoteStorageInbox);
    EXPECT_GT(hit->score(), 0.0);
    EXPECT_EQ(hit->score(), Score::scoreAgainst(QStringLiteral("[Todo] list"), QStringLiteral("tod"), std::nullopt,
                                                ScoreOptionDivideByStringLength));
    EXPECT_FALSE(hit->attributedText());

    // A star of the user's own is kept as it is, and a quoted query gets none:
    // «"tod"» is the whole word "tod", which no note has.
    EXPECT_EQ(rows(search(QStringLiteral("to*")).notes), (QStringList{"1:Todo list.txt", "1:Tomorrow.txt"}));
    const Results quoted = search(QStringLiteral("\"tod\""));
    for (const ListItemPtr& item : quoted.notes)
        EXPECT_NE(item->tag(), ListItemTitleMatch) << qPrintable(item->key());
    EXPECT_EQ(rows(search(QStringLiteral("\"todo list\"")).notes), QStringList{"1:Todo list.txt"});
}

TEST_F(Search, NoteMatchingTitleAndContentIsListedOnceAsTitleMatch)
{
    addRow(QStringLiteral("Milk run.txt"), QStringLiteral("Milk run"), QStringLiteral("Milk run milk and eggs"));
    addRow(QStringLiteral("Shop.txt"), QStringLiteral("Shop"), QStringLiteral("Shop oat milk"));
    const Results results = search(QStringLiteral("milk"));
    EXPECT_EQ(rows(results.notes), (QStringList{"1:Milk run.txt", "2:Shop.txt"}));
    const ListItemPtr& content = results.notes.at(1);
    EXPECT_EQ(content->title(), QStringLiteral("Shop"));
    EXPECT_EQ(content->snippet(), QStringLiteral("Shop oat [milk]"));
    EXPECT_EQ(content->score(), 0.0);
}

TEST_F(Search, ArchivedHitsComeSecondWhateverTheStorageAsked)
{
    addRow(QStringLiteral("Plan.txt"), QStringLiteral("Plan"), QStringLiteral("Plan"), QStringLiteral("archive"));
    addRow(QStringLiteral("Plan B.txt"), QStringLiteral("Plan B"), QStringLiteral("Plan B"));
    for (int storage : {0, NoteStorageInbox, NoteStorageArchive}) {
        const Results results = search(QStringLiteral("plan"), storage);
        EXPECT_EQ(rows(results.notes), QStringList{"1:Plan B.txt"}) << storage;
        EXPECT_EQ(rows(results.archived), QStringList{"1:Plan.txt"}) << storage;
        ASSERT_EQ(results.archived.size(), 1);
        EXPECT_EQ(results.archived.first()->storage(), NoteStorageArchive);
    }
}

TEST_F(Search, CascadeOrdersTitlesByScoreThenFuzzyThenContentInTableOrder)
{
    // Equal titles score the same and keep the table's order.
    addRow(QStringLiteral("Review B.txt"), QStringLiteral("Review notes"), QStringLiteral("Review notes"));
    addRow(QStringLiteral("Review A.txt"), QStringLiteral("Review notes"), QStringLiteral("Review notes"));
    addRow(QStringLiteral("Review.txt"), QStringLiteral("Review"), QStringLiteral("Review"));
    // "Rough weekly view" has no word starting "rev" but holds r, e, v in order.
    addRow(QStringLiteral("Weekly.txt"), QStringLiteral("Rough weekly view"), QStringLiteral("Rough weekly view"));
    // Found by the loose pass's first letter but scoring nothing.
    addRow(QStringLiteral("Radio.txt"), QStringLiteral("Radio"), QStringLiteral("Radio"));
    addRow(QStringLiteral("Zeta.txt"), QStringLiteral("Zeta"), QStringLiteral("to review later"));
    addRow(QStringLiteral("Alpha.txt"), QStringLiteral("Alpha"), QStringLiteral("reviewed twice"));

    const Results results = search(QStringLiteral("rev"));
    EXPECT_EQ(rows(results.notes), (QStringList{"1:Review.txt", "1:Review B.txt", "1:Review A.txt", "3:Weekly.txt",
        "2:Zeta.txt", "2:Alpha.txt"}));
    for (qsizetype i = 1; i < 4; ++i)
        EXPECT_GE(results.notes.at(i - 1)->score(), results.notes.at(i)->score()) << i;
    const ListItemPtr& fuzzy = results.notes.at(3);
    EXPECT_EQ(fuzzy->title(), QStringLiteral("rev"));
    EXPECT_TRUE(fuzzy->snippet().isNull());
    EXPECT_EQ(fuzzy->score(), Score::scoreAgainst(QStringLiteral("Rough weekly view"), QStringLiteral("rev"),
                                                  std::nullopt, ScoreOptionDivideByStringLength));
}

TEST_F(Search, NothingIndexedFallsBackToLikeAcrossWords)
{
    // Neither "buy" nor a word starting "milk" pair up for the index.
    addRow(QStringLiteral("Groceries.txt"), QStringLiteral("Groceries"),
           QStringLiteral("Groceries buyers of milkshakes"));
    addRow(QStringLiteral("Old.txt"), QStringLiteral("Old"), QStringLiteral("Old milk then buyer"),
           QStringLiteral("archive"));
    const Results results = search(QStringLiteral("buy milk"));
    ASSERT_EQ(rows(results.notes), QStringList{"3:Groceries.txt"});
    EXPECT_TRUE(results.archived.isEmpty());
    const ListItemPtr& row = results.notes.first();
    EXPECT_EQ(row->title(), QStringLiteral("buy milk"));
    EXPECT_TRUE(row->snippet().isNull());
    EXPECT_EQ(row->score(), 0.0);

    // Once an indexed pass finds a note, the full scan is not run.
    addRow(QStringLiteral("List.txt"), QStringLiteral("List"), QStringLiteral("List buy milk"));
    EXPECT_EQ(rows(search(QStringLiteral("buy milk")).notes), QStringList{"2:List.txt"});
}

// The loose title rows are kept between searches; every kind of write, from
// this connection or another one, must show in the next search.
TEST_F(Search, LooseTitleRowsFollowEveryWriteToTheTable)
{
    addRow(QStringLiteral("Pear.txt"), QStringLiteral("Pear"), QStringLiteral("fruit"));
    addRow(QStringLiteral("Pale lemon.txt"), QStringLiteral("Pale lemon"), QStringLiteral("fruit"), QStringLiteral("inbox"),
           QStringLiteral("work"));
    addRow(QStringLiteral("Pal list.txt"), QStringLiteral("Pal list"), QStringLiteral("x"), QStringLiteral("archive"),
           QStringLiteral("home"));
    const QString path = Core::shared().cachesDirectory() + QStringLiteral("/search.sqlite");
    const auto viaOther = [&](const QString& sql, const QString& key) {
        const auto other = SLDatabase::databaseWithPath(path);
        ASSERT_TRUE(other->open());
        ASSERT_TRUE(other->executeUpdate(sql, QStringLiteral("inbox/") + key));
        other->close();
    };
    const struct {
        const char* step;
        std::function<void()> write;
        QStringList expected;
    } steps[] = {
        {"start", [] {}, {"3:Pale lemon.txt"}},
        {"insert here", [] { addRow(QStringLiteral("Plot.txt"), QStringLiteral("Page of lore"), QStringLiteral("x")); },
         {"3:Pale lemon.txt", "3:Plot.txt"}},
        {"insert elsewhere",
         [&] { viaOther(QStringLiteral("INSERT INTO notes(key, title, folder) VALUES(?, 'Paper log', 'inbox')"),
                        QStringLiteral("Paper.txt")); },
         {"3:Pale lemon.txt", "3:Plot.txt", "3:Paper.txt"}},
        {"retitle here",
         [] { Core::shared().syncDatabase([](SLDatabase& db) {
              db.executeUpdate(QStringLiteral("UPDATE notes SET title = 'Apple' WHERE key = 'inbox/Paper.txt'"));
          }); },
         {"3:Pale lemon.txt", "3:Plot.txt"}},
    };
    const auto sorted = [](QStringList rows) {
        rows.sort();
        return rows;
    };
    for (const auto& step : steps) {
        step.write();
        // Once after the write, once from the kept rows, and inside tag views.
        for (int again = 0; again < 2; ++again)
            EXPECT_EQ(sorted(rows(search(QStringLiteral("pl")).notes)), sorted(step.expected)) << step.step;
        EXPECT_EQ(rows(search(QStringLiteral("pl")).archived), QStringList{"3:Pal list.txt"}) << step.step;
        EXPECT_EQ(rows(search(QStringLiteral("pl"), NoteTagHashtag, QStringLiteral("work")).notes),
                  QStringList{"3:Pale lemon.txt"}) << step.step;
        EXPECT_EQ(rows(search(QStringLiteral("pl"), NoteTagHashtag, QStringLiteral("home")).archived),
                  QStringList{"3:Pal list.txt"}) << step.step;
    }
}

TEST_F(Search, TagFilterMatchesWholeTags)
{
    const struct {
        const char *key, *title, *content, *folder, *hashtag, *mention;
    } notes[] = {
        {"Work.txt", "Plan", "Plan", "inbox", "urgent work", nullptr},
        {"Homework.txt", "Plan", "Plan", "inbox", "homework", nullptr},
        {"Workshop.txt", "Plan", "Plan", "archive", "workshop work-life", nullptr},
        {"Archived work.txt", "Notes", "plan", "archive", "work", nullptr},
        {"Mentions work.txt", "Plan", "Plan", "inbox", nullptr, "work"},
    };
    for (const auto& n : notes)
        addRow(n.key, n.title, n.content, n.folder, n.hashtag, n.mention);

    const Results hashtag = search(QStringLiteral("plan"), NoteTagHashtag, QStringLiteral("Work"));
    EXPECT_EQ(rows(hashtag.notes), QStringList{"1:Work.txt"});
    EXPECT_EQ(rows(hashtag.archived), QStringList{"2:Archived work.txt"});

    const Results mention = search(QStringLiteral("plan"), NoteTagMention, QStringLiteral("work"));
    EXPECT_EQ(rows(mention.notes), QStringList{"1:Mentions work.txt"});
    EXPECT_TRUE(mention.archived.isEmpty());

    // A tag made of several words for the index is still one whole tag.
    EXPECT_EQ(rows(search(QStringLiteral("plan"), NoteTagHashtag, QStringLiteral("work-life")).archived),
              QStringList{"1:Workshop.txt"});
    // Every pass keeps to the tag: content hits, and the fallback.
    EXPECT_EQ(rows(search(QStringLiteral("pla"), NoteTagHashtag, QStringLiteral("work")).archived),
              QStringList{"2:Archived work.txt"});
    // A symbol outside ASCII may sit inside a word for the table: such a tag
    // is matched by its whole spelling alone.
    addRow(QStringLiteral("Check.txt"), QStringLiteral("Plan"), QStringLiteral("Plan"), QStringLiteral("inbox"),
           QString::fromUtf8("work\U0001F970"));
    EXPECT_EQ(rows(search(QStringLiteral("plan"), NoteTagHashtag, QString::fromUtf8("work\U0001F970")).notes),
              QStringList{"1:Check.txt"});
    // The fallback keeps to the tag as well.
    const Results loose = search(QStringLiteral("lan"), NoteTagHashtag, QStringLiteral("work"));
    EXPECT_EQ(rows(loose.notes), QStringList{"3:Work.txt"});
    EXPECT_EQ(rows(loose.archived), QStringList{"3:Archived work.txt"});
}

// Inside a tag the title passes read the index of titles narrowed to the
// tag's notes: the same rows, titles, snippets and scores as the word
// table's own statements give without that index.
TEST_F(Search, TitlesInATagAreTheWordTablesOwn)
{
    const QStringList words = {"plan", "planet", "meeting", "milk", "mint", "todo", "the", "then", "Élan", "über"};
    const QStringList tags = {"work", "work-life", "to_do", "homework", "a\"b", "naïve", "w*", "__"};
    std::mt19937 random(5);
    const auto pick = [&](const QStringList& from) { return from.at(qsizetype(random() % from.size())); };
    Core::shared().syncDatabase([&](SLDatabase& db) {
        ASSERT_TRUE(db.beginTransaction());
        for (int i = 0; i < 240; ++i) {
            QStringList title, noteTags;
            for (int n = 1 + int(random() % 4); n > 0; --n)
                title.append(pick(words));
            for (int n = int(random() % 3); n > 0; --n)
                noteTags.append(pick(tags));
            const QString folder = i % 4 ? QStringLiteral("inbox") : QStringLiteral("archive");
            const QString tagged = noteTags.join(QLatin1Char(' '));
            ASSERT_TRUE(db.executeUpdate(QStringLiteral("INSERT INTO notes(key, title, content, folder, hashtag, "
                                                        "mention) VALUES(?, ?, ?, ?, ?, ?)"),
                                         folder + QStringLiteral("/N%1.txt").arg(i), title.join(QLatin1Char(' ')),
                                         QStringLiteral("body"), folder, i % 2 ? tagged : QString(),
                                         i % 2 ? QString() : tagged));
        }
        ASSERT_TRUE(db.commit());
    });
    const QStringList queries = {"pl", "plan", "plan m", "m", "the mi", "élan", "uber", "\"plan meeting\"", "t*", "pla"};
    int titleRows = 0;
    const auto everything = [&] {
        QStringList out;
        for (const int kind : {int(NoteTagHashtag), int(NoteTagMention)}) {
            for (const QString& tag : tags) {
                for (const QString& query : queries) {
                    const Results results = search(query, kind, tag);
                    for (const auto* list : {&results.notes, &results.archived}) {
                        for (const ListItemPtr& item : *list) {
                            titleRows += item->tag() != ListItemContentMatch;
                            out.append(QStringList{tag, query, QString::number(item->tag()), item->key(), item->title(),
                                                   item->snippet(), QString::number(item->score())}
                                           .join(QLatin1Char('|')));
                        }
                    }
                }
            }
        }
        return out;
    };
    Core::shared().syncDatabase(
        [](SLDatabase& db) { ASSERT_TRUE(db.executeUpdate(QStringLiteral("DROP TABLE notes_titles"))); });
    const QStringList plain = everything();
    Core::shared().syncDatabase([](SLDatabase& db) { NoteSearchIndex::create(db); });
    titleRows = 0;
    EXPECT_EQ(everything(), plain);
    EXPECT_GT(titleRows, 300);
}

TEST_F(Search, TagWildcardsAreLiteral)
{
    const std::pair<const char*, const char*> tagged[] = {{"A.txt", "to_do"}, {"B.txt", "toxdo"}, {"C.txt", "__"},
                                                          {"D.txt", "a_b"}, {"E.txt", "xy"}};
    for (const auto& [key, hashtag] : tagged)
        addRow(key, "Plan", "Plan", "inbox", hashtag);
    EXPECT_EQ(rows(search(QStringLiteral("plan"), NoteTagHashtag, QStringLiteral("to_do")).notes),
              QStringList{"1:A.txt"});
    // A tag with no letters or digits is found without the index.
    EXPECT_EQ(rows(search(QStringLiteral("plan"), NoteTagHashtag, QStringLiteral("__")).notes), QStringList{"1:C.txt"});
    EXPECT_TRUE(search(QStringLiteral("plan"), NoteTagHashtag, QStringLiteral("%")).notes.isEmpty());
}

TEST_F(Search, UnsafeQueryTextNeverBreaksASearch)
{
    addRow(QStringLiteral("Todo.txt"), QStringLiteral("Todo"), QStringLiteral("Todo 100% done a_b"));
    const QStringList queries = {
        QStringLiteral("\""),        QStringLiteral("tod\""),    QStringLiteral("\"todo"),
        QStringLiteral("todo OR"),   QStringLiteral("NEAR"),     QStringLiteral("AND"),
        QStringLiteral("-todo"),     QStringLiteral("(todo"),    QStringLiteral("todo)"),
        QStringLiteral("*"),         QStringLiteral("title:x"),  QStringLiteral("'; DROP TABLE notes; --"),
        QStringLiteral("%"),         QStringLiteral("\\"),       QStringLiteral("^todo"),
        QStringLiteral(" "),         QString::fromUtf8("\xF0\x9F\x98\x80x"), QString(QChar(0xD83D)),
    };
    for (const QString& query : queries) {
        const Results results = search(query);
        EXPECT_EQ(results.calls, 1) << qPrintable(query);
    }
    // The LIKE fallback takes "%" as the table does: any text.
    EXPECT_EQ(rows(search(QStringLiteral("%")).notes), QStringList{"3:Todo.txt"});
    Core::shared().syncDatabase([](SLDatabase& db) {
        EXPECT_FALSE(db.hasOpenResultSets());
        EXPECT_EQ(db.intForQuery(QStringLiteral("SELECT count(*) FROM notes")), 1);
    });
    EXPECT_EQ(rows(search(QStringLiteral("todo")).notes), QStringList{"1:Todo.txt"});
}

TEST_F(Search, ResultsStopAtTwoHundredRows)
{
    Core::shared().syncDatabase([](SLDatabase& db) {
        db.beginTransaction();
        for (int i = 0; i < 250; ++i)
            db.executeUpdate(QStringLiteral("INSERT INTO notes(key, title, content, folder) VALUES(?, ?, ?, ?)"),
                             QStringLiteral("inbox/Todo %1.txt").arg(i), QStringLiteral("Todo %1").arg(i),
                             QStringLiteral("todo"), QStringLiteral("inbox"));
        db.commit();
    });
    addRow(QStringLiteral("Content.txt"), QStringLiteral("Other"), QStringLiteral("todo"));
    const Results results = search(QStringLiteral("todo"));
    EXPECT_EQ(results.notes.size(), 200);
    for (const ListItemPtr& item : results.notes)
        ASSERT_EQ(item->tag(), ListItemTitleMatch) << qPrintable(item->key());
}

// Whole words and the first letter or two of another: after the title rows
// come the content statement's own rows, in its order, up to the end of the
// lists, with or without a tag, and without one with its snippets (the tag's
// words join the expression). After a blank the last word is a whole one.
TEST_F(Search, ShortLastWordListsTheContentStatementsRowsAfterTheTitles)
{
    const QStringList words = {"milk", "mangoes", "gum", "mint", "bread"};
    Core::shared().syncDatabase([&](SLDatabase& db) {
        db.beginTransaction();
        for (int i = 0; i < 320; ++i) {
            const QString folder = i % 4 ? QStringLiteral("inbox") : QStringLiteral("archive");
            const QString title = i % 9 ? QStringLiteral("Note %1").arg(i) : QStringLiteral("Buy ") + words[i % 5];
            db.executeUpdate(QStringLiteral("INSERT INTO notes(key, title, content, folder, hashtag) "
                                            "VALUES(?, ?, ?, ?, ?)"),
                             folder + QStringLiteral("/%1.txt").arg(i), title,
                             title + QStringLiteral(" then buy ") + words[i * 3 % 5] + QStringLiteral(" and m"), folder,
                             i % 3 ? QStringLiteral("shop") : QString());
        }
        db.commit();
    });
    for (const char* text : {"buy m", "Buy MI", "buy m ", "buy g", "then b", "milk an"}) {
        for (const QString& tag : {QString(), QStringLiteral("shop")}) {
            const QString query = QString::fromUtf8(text);
            const Results results = search(query, tag.isEmpty() ? 0 : NoteTagHashtag, tag);
            QSet<QString> listed;
            QStringList expected[2];
            for (const Note::ListItemList* list : {&results.notes, &results.archived}) {
                for (const ListItemPtr& item : *list) {
                    if (item->tag() != ListItemContentMatch)
                        listed.insert(item->key());
                }
            }
            qsizetype room = 200 - listed.size();
            Core::shared().syncDatabase([&](SLDatabase& db) {
                SLResultSet plain = db.executeQuery(
                    QStringLiteral("SELECT key, title, snippet(notes, '[', ']', '...', -1) FROM notes WHERE content "
                                   "MATCH ? AND (' ' || hashtag || ' ') LIKE ?"),
                    query + QLatin1Char('*'),
                    tag.isEmpty() ? QStringLiteral("%") : QStringLiteral("% ") + tag + QStringLiteral(" %"));
                while (room > 0 && plain.next()) {
                    const QString key = plain.stringForColumnIndex(0).section(QLatin1Char('/'), -1);
                    if (listed.contains(key))
                        continue;
                    expected[plain.stringForColumnIndex(0).startsWith(QLatin1String("archive/"))].append(
                        key + QLatin1Char('|') + plain.stringForColumnIndex(1) + QLatin1Char('|') +
                        (tag.isEmpty() ? plain.stringForColumnIndex(2) : QString()));
                    --room;
                }
                plain.close();
            });
            QStringList found[2];
            for (const int archived : {0, 1}) {
                for (const ListItemPtr& item : archived ? results.archived : results.notes) {
                    if (item->tag() == ListItemContentMatch)
                        found[archived].append(item->key() + QLatin1Char('|') + item->title() + QLatin1Char('|') +
                                               (tag.isEmpty() ? item->snippet() : QString()));
                }
                EXPECT_EQ(found[archived], expected[archived]) << text << " " << qPrintable(tag) << " " << archived;
            }
            EXPECT_FALSE(found[0].isEmpty()) << text << " " << qPrintable(tag);
        }
    }
}

} // namespace
