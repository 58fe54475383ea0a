#include "PanesTestSupport.h"

#include "../store/LogCapture.h"

#include "kit/QtColor.h"
#include "panes/ListViewController.h"
#include "views/AttributedLabel.h"

#include "Store/NoteHeaderFile.h"

#include "text/FontFaces.h"

#include <QLabel>
#include <QLineEdit>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <random>
#include <thread>

namespace {

struct RecordingListDelegate : ListViewControllerDelegate {
    QString text;
    int textAsked = 0;
    QStringList selected;
    void listControllerDidSelectNote(ListViewController&, const NotePtr& note) override { selected << note->key(); }
    void listControllerDidTapArchiveNote(ListViewController&, const NotePtr&) override {}
    void listControllerDidTapDeleteNote(ListViewController&, const NotePtr&) override {}
    void listControllerDidTapRestoreNote(ListViewController&, const NotePtr&) override {}
    QString listControllerEditingText(ListViewController&) override
    {
        ++textAsked;
        return text;
    }
};

class PanesList : public PaneTest {
protected:
    void SetUp() override
    {
        core.setColorTheme(0);
        core.setNoteSortOptions(0);
        for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
            for (const QString& folder : {Note::documentDirectoryForStorage(storage), Note::headerDirectoryForStorage(storage)})
                QDir(folder).removeRecursively();
            QFile::remove(ListTitleCache::fileForStorage(storage));
        }
        for (const int kind : {NoteTagHashtag, NoteTagMention})
            QDir(Note::linkDirectoryForTag(kind)).removeRecursively();
        list.setDelegate(&delegate);
        list.view()->resize(300, 600);
        list.view()->show();
    }
    void TearDown() override { core.setNoteSortOptions(0); }

    // A note modified at `updated` seconds and created at `created`.
    static NotePtr note(const QString& key, int storage, int64_t updated, int64_t created = 0,
                        const QByteArray& text = "text")
    {
        const QString path = Note::documentFileForKey(key, storage);
        TestSupport::writeFile(path, text);
        FileDates::setCreationDate(path, created);
        auto made = std::make_shared<Note>(key, storage);
        made->restoreHeader(); // writes the header file the title sort reads
        FileDates::setModificationDate(path, updated);
        return made;
    }
    // A note as the store leaves it once indexed: header file and index marker written.
    static void indexed(const QString& key, const QByteArray& text)
    {
        note(key, NoteStorageInbox, 100, 0, text)->writeIndexFile();
    }
    static QStringList titlesOf(ListViewController& pane)
    {
        std::optional<bool> done;
        pane.selectStorage(NoteStorageInbox, {}, [&](bool reloaded) { done = reloaded; });
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return done.has_value(); }, 10));
        QStringList titles;
        for (const ListItemPtr& item : pane.items())
            titles << item->title();
        return titles;
    }
    static void link(int kind, const QString& tag, const QString& key, int storage)
    {
        TestSupport::writeFile(Note::linkDirectoryForTag(kind, tag, storage) + QLatin1Char('/') + key, "");
    }
    bool load(int storage = NoteStorageInbox, const QString& tag = {})
    {
        std::optional<bool> done;
        list.selectStorage(storage, tag, [&](bool reloaded) { done = reloaded; });
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return done.has_value(); }, 10));
        settle();
        return done.value_or(false);
    }
    static QStringList keys(const ListItems& items)
    {
        QStringList names;
        for (const ListItemPtr& item : items)
            names << item->key();
        return names;
    }
    std::optional<IndexPath> selection() { return list.tableBridge()->selectedRow(); }
    ListEntryCell* cellAt(int64_t row, int64_t section)
    {
        return dynamic_cast<ListEntryCell*>(list.tableBridge()->rowView(row, section, true));
    }

    RecordingListDelegate delegate;
    ListViewController list{sharedTestCore()};
};

TEST_F(PanesList, ListsAStorageOrATagInItsSections)
{
    note(QStringLiteral("a.txt"), NoteStorageInbox, 100);
    note(QStringLiteral("b.txt"), NoteStorageArchive, 100);
    note(QStringLiteral("c.txt"), NoteStorageArchive, 200);
    TestSupport::writeFile(Note::documentFileForKey(QStringLiteral(".hidden"), NoteStorageInbox), "x");
    QDir().mkpath(Note::documentFileForKey(QStringLiteral("folder.txt"), NoteStorageInbox));
    link(NoteTagHashtag, QStringLiteral("plan"), QStringLiteral("a.txt"), NoteStorageInbox);
    link(NoteTagHashtag, QStringLiteral("plan"), QStringLiteral("b.txt"), NoteStorageArchive);

    struct Case {
        int storage;
        QString tag;
        QStringList items;
        QStringList archived;
    };
    const Case cases[] = {
        {0, {}, {QStringLiteral("a.txt")}, {}},
        {-3, {}, {QStringLiteral("a.txt")}, {}},
        {NoteStorageArchive, {}, {QStringLiteral("c.txt"), QStringLiteral("b.txt")}, {}},
        {NoteTagHashtag, QStringLiteral("plan"), {QStringLiteral("a.txt")}, {QStringLiteral("b.txt")}},
        {NoteTagHashtag, QStringLiteral("../Inbox"), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.storage << " " << c.tag.toStdString());
        ASSERT_TRUE(load(c.storage, c.tag));
        EXPECT_EQ(keys(list.items()), c.items);
        EXPECT_EQ(keys(list.archivedItems()), c.archived);
        const int64_t header = list.tableBridge()->rowForHeader(ListViewController::Archived);
        EXPECT_EQ(list.tableView()->rectOfRow(header).height(), c.archived.isEmpty() ? 0 : 48);
        EXPECT_EQ(list.emptyView()->isVisible(), c.items.isEmpty() && c.archived.isEmpty());
    }
    EXPECT_EQ(list.selectedStorage(), NoteTagHashtag);
}

TEST_F(PanesList, SortsByTheOption)
{
    note(QStringLiteral("old-made.txt"), NoteStorageInbox, 300, 10);
    note(QStringLiteral("new-made.txt"), NoteStorageInbox, 100, 20);
    note(QStringLiteral("mid.txt"), NoteStorageInbox, 200, 15);
    for (const auto& [option, order] :
         {std::pair{int64_t(1), QStringList{"new-made.txt", "mid.txt", "old-made.txt"}},
          {int64_t(7), QStringList{"old-made.txt", "mid.txt", "new-made.txt"}},
          {int64_t(0), QStringList{"old-made.txt", "mid.txt", "new-made.txt"}}}) {
        core.setNoteSortOptions(option);
        ASSERT_TRUE(load());
        EXPECT_EQ(keys(list.items()), order) << option;
    }
}

// The folded keys the title sort orders by agree with the case-insensitive comparison of the titles,
// accents, special foldings and letters beyond 16 bits included.
TEST(ListTitleOrder, KeysOrderAsTheTitlesCompareIgnoringCase)
{
    const QChar high(0xD801);
    const QChar low(0xDC00);
    const QStringList titles = {QString(), "", "a", "A", "ab", "Ab", "b", "B", "Title 10", "title 9",
                                "e", "E", "\u00E9", "\u00C9", "\u00E9clair", "Eclair", "\u00DF", "ss", "SS",
                                "\u1E9E", "\u01C4", "\u01C5", "\u01C6", "I", "i", "\u0130", "\u0131",
                                "\u03A3", "\u03C3", "\u03C2", "\uFB00", "ff", "\U00010400", "\U00010428",
                                "x\U00010400", "x\uFFFF", "\uD7FF", "\uE000", "\uFFFF", "z", QString(high),
                                QString(low), QString("x") + high, QString(low) + high, QString(high) + "a"};
    const auto sign = [](auto value) { return (value > 0) - (value < 0); };
    const auto key = [](const QString& title) {
        std::string folded = "kept";
        ListViewController::appendTitleOrderKey(title, folded);
        return folded;
    };
    for (const QString& a : titles) {
        for (const QString& b : titles)
            EXPECT_EQ(sign(key(a).compare(key(b))), sign(a.compare(b, Qt::CaseInsensitive))) << qPrintable(a) << " vs " << qPrintable(b);
    }
}

// Every option orders rows as a stable sort by its comparison does: titles alike for 16 bytes and
// more, one the start of another, equal but for case or equal outright; dates equal or not.
TEST(ListSortOrder, EveryOptionSortsAsAStableSortByItsComparison)
{
    const QString shared = QStringLiteral("A shared opening of many titles");
    const QStringList titles = {shared + "b", shared.toUpper() + "A", shared, shared + "b", "",
                                QString(), shared.left(16), shared.left(16) + QChar(0), shared.left(15),
                                "\u00E9t\u00E9", "\u00C9T\u00C9", "z", "Z", "\U00010428", "b", shared + "a"};
    ListItems rows;
    for (qsizetype i = 0; i < 40; ++i) {
        auto row = std::make_shared<ListItem>();
        row->setKey(QString::number(i));
        row->setTitle(titles[(i * 7) % titles.size()]);
        row->setUpdatedOn((i * 5) % 11);
        row->setCreatedOn((i * 3) % 7);
        rows << row;
    }
    const std::pair<int64_t, std::function<bool(const ListItem&, const ListItem&)>> options[] = {
        {0, [](const ListItem& a, const ListItem& b) { return a.updatedOn() > b.updatedOn(); }},
        {1, [](const ListItem& a, const ListItem& b) { return a.createdOn() > b.createdOn(); }},
        {2, [](const ListItem& a, const ListItem& b) { return a.title().compare(b.title(), Qt::CaseInsensitive) < 0; }},
    };
    for (const auto& [option, before] : options) {
        ListItems expected = rows;
        std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) { return before(*a, *b); });
        ListItems sorted = rows;
        ListViewController::sortListItems(sorted, option);
        EXPECT_EQ(sorted, expected) << option;
    }
}

// Thousands of titles drawn at random, many alike well past their first 16 bytes, sort by title as a
// stable sort by the comparison of titles ignoring case does.
TEST(ListSortOrder, ThousandsOfRandomTitlesSortAsAStableSortByTitle)
{
    std::mt19937 random(20261209);
    const QString letters = QStringLiteral("aAbB \u00E9\u00C9z");
    const QStringList openings = {QString(), QStringLiteral("Meeting notes for the "), QStringLiteral("meeting")};
    ListItems rows;
    for (int i = 0; i < 3000; ++i) {
        QString title = openings[random() % openings.size()];
        for (int length = int(random() % 24); length > 0; --length)
            title += letters[random() % letters.size()];
        auto row = std::make_shared<ListItem>();
        row->setKey(QString::number(i));
        row->setTitle(title);
        rows << row;
    }
    ListItems expected = rows;
    std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
        return a->title().compare(b->title(), Qt::CaseInsensitive) < 0;
    });
    ListViewController::sortListItems(rows, 2);
    EXPECT_EQ(rows, expected);
}

// Thousands of dates drawn at random, before 1970 and after, alike but in one byte or outright equal,
// sort newest first as a stable sort by either date does.
TEST(ListSortOrder, ThousandsOfRandomDatesSortNewestFirstAsAStableSort)
{
    std::mt19937_64 random(20261209);
    const int64_t dates[] = {0, -1, 1, 1'600'000'000, -1'600'000'000, INT64_MAX, INT64_MIN, int64_t(1) << 40};
    ListItems rows;
    for (int i = 0; i < 3000; ++i) {
        auto row = std::make_shared<ListItem>();
        row->setKey(QString::number(i));
        // A known date, the same moved in one of its bytes, or anything at all.
        const int64_t known = dates[random() % std::size(dates)];
        const int64_t moved = known ^ int64_t(uint64_t(random() % 4) << (8 * (random() % 8)));
        row->setUpdatedOn(random() % 3 == 0 ? int64_t(random()) : moved);
        row->setCreatedOn(random() % 2 == 0 ? known : moved);
        rows << row;
    }
    for (const int64_t option : {0, 1}) {
        const auto date = [&](const ListItemPtr& row) { return option == 1 ? row->createdOn() : row->updatedOn(); };
        ListItems expected = rows;
        std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) { return date(a) > date(b); });
        ListItems sorted = rows;
        ListViewController::sortListItems(sorted, option);
        EXPECT_EQ(sorted, expected) << option;
    }
}

// A folder of several reading slices, handed to the pool while the rest is read, lists every note once
// in either order.
TEST_F(PanesList, AFolderOfManySlicesListsEveryNoteOnce)
{
    constexpr int count = 1300;
    for (int i = 0; i < count; ++i)
        note(QStringLiteral("n%1.txt").arg(i), NoteStorageInbox, 1000 + i, 0,
             "t" + QByteArray::number(count - i).rightJustified(5, '0'));
    for (const int64_t option : {0, 2}) {
        core.setNoteSortOptions(option);
        ASSERT_TRUE(load());
        ASSERT_EQ(list.items().size(), count) << option;
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(list.items()[i]->key(), QStringLiteral("n%1.txt").arg(count - 1 - i)) << option;
    }
}

// Rows made ahead from a folder's last listing are those a listing afresh makes, in its order, whatever
// changed between the two listings; the names kept are the new listing's.
TEST_F(PanesList, RowsMadeAheadFromTheLastListingAreThoseOfAListingAfresh)
{
    const QString inbox = Note::documentDirectoryForStorage(NoteStorageInbox);
    const auto key = [](int i) { return QStringLiteral("n%1.txt").arg(i); };
    const auto rows = [&](int64_t option, ListViewController::ListedNames* last) {
        ListTitleCache cache(ListTitleCache::fileForStorage(NoteStorageInbox));
        ListTitleReader titles(cache, NoteStorageInbox);
        std::vector<std::string> orderKeys;
        const bool titled = option == 2;
        const ListItems items = ListViewController::importDirectory(inbox, NoteStorageInbox, option,
                                                                    titled ? &titles : nullptr,
                                                                    titled ? &orderKeys : nullptr, last);
        QStringList shown;
        for (const ListItemPtr& item : items)
            shown << item->key() + u' ' + QString::number(item->updatedOn()) + u' ' + item->title();
        for (const std::string& orderKey : orderKeys)
            shown << QString::fromStdString(orderKey);
        return shown;
    };
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"nothing", [] {}},
        {"a note added", [&] { note(QStringLiteral("added.txt"), NoteStorageInbox, 5000, 0, "added"); }},
        {"a note gone", [&] { QFile::remove(Note::documentFileForKey(key(7), NoteStorageInbox)); }},
        {"notes gone and added",
         [&] {
             for (int i = 100; i < 400; ++i)
                 QFile::remove(Note::documentFileForKey(key(i), NoteStorageInbox));
             for (int i = 0; i < 40; ++i)
                 note(QStringLiteral("m%1.txt").arg(i), NoteStorageInbox, 6000 + i, 0, "more");
         }},
        {"a note redated", [&] { FileDates::setModificationDate(Note::documentFileForKey(key(3), NoteStorageInbox), 9000); }},
        {"a note become a folder",
         [&] {
             const QString path = Note::documentFileForKey(key(11), NoteStorageInbox);
             QFile::remove(path);
             QDir().mkpath(path);
         }},
    };
    for (const int64_t option : {0, 2}) {
        for (const auto& [what, change] : changes) {
            QDir(inbox).removeRecursively();
            for (int i = 0; i < 600; ++i)
                note(key(i), NoteStorageInbox, 1000 + i, 0, "t" + QByteArray::number(i % 7));
            ListViewController::ListedNames last;
            rows(option, &last);
            ASSERT_EQ(last.offsets.size(), 600u);
            change();
            const QStringList afresh = rows(option, nullptr);
            EXPECT_EQ(rows(option, &last), afresh) << what << " by option " << option;
            QStringList names;
            for (const qsizetype offset : last.offsets)
                names << QString::fromUtf8(last.names.constData() + offset);
            EXPECT_EQ(names, QDir(inbox).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Unsorted))
                << what << " by option " << option;
        }
    }
}

// A folder that settled before its listing is not read again while its version stays: its rows are
// those of a listing afresh, kinds and a redated note included, and once a name comes or goes the
// folder is read again.
TEST_F(PanesList, ASettledFolderUnchangedListsItsKeptNamesAsAListingAfresh)
{
    const QString inbox = Note::documentDirectoryForStorage(NoteStorageInbox);
    const auto key = [](int i) { return QStringLiteral("n%1.txt").arg(i); };
    for (int i = 0; i < 600; ++i)
        note(key(i), NoteStorageInbox, 1000 + i, 0, "t" + QByteArray::number(i % 7));
    ASSERT_TRUE(QDir().mkpath(inbox + QStringLiteral("/Attachments")));
    TestSupport::writeFile(inbox + QStringLiteral("/.hidden"), "hidden");
    const OpenFolder folder(inbox);
    if (!FileDates::keepsFolderChanges(folder.fd))
        GTEST_SKIP() << "the test folder's file system may not move a folder's change time";
    for (int waited = 0; !FileDates::isSettled(FileDates::folderVersion(folder.fd)) && waited < 30; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto rows = [&](int64_t option, ListViewController::ListedNames* last) {
        ListTitleCache cache(ListTitleCache::fileForStorage(NoteStorageInbox));
        ListTitleReader titles(cache, NoteStorageInbox);
        std::vector<std::string> orderKeys;
        const bool titled = option == 2;
        QStringList shown;
        for (const ListItemPtr& item : ListViewController::importDirectory(inbox, NoteStorageInbox, option,
                                                                            titled ? &titles : nullptr,
                                                                            titled ? &orderKeys : nullptr, last))
            shown << item->key() + u' ' + QString::number(item->updatedOn()) + u' ' + item->title();
        return shown;
    };
    std::map<int64_t, ListViewController::ListedNames> kept;
    for (const int64_t option : {0, 2}) {
        rows(option, &kept[option]);
        ASSERT_TRUE(kept[option].settledFolder) << option;
    }
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"a note redated", [&] { FileDates::setModificationDate(Note::documentFileForKey(key(3), NoteStorageInbox), 9000); }},
        {"names come and go",
         [&] {
             note(QStringLiteral("added.txt"), NoteStorageInbox, 5000, 0, "added");
             QFile::remove(Note::documentFileForKey(key(7), NoteStorageInbox));
             QFile::remove(Note::documentFileForKey(key(11), NoteStorageInbox));
             QDir().mkpath(Note::documentFileForKey(key(11), NoteStorageInbox));
         }},
    };
    for (const auto& [what, change] : changes) {
        change();
        for (const int64_t option : {0, 2}) {
            EXPECT_EQ(rows(option, &kept[option]), rows(option, nullptr)) << what << " by option " << option;
            QStringList names;
            for (const qsizetype offset : kept[option].offsets)
                names << QString::fromUtf8(kept[option].names.constData() + offset);
            QStringList listed = QDir(inbox).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Unsorted);
            names.sort();
            listed.sort();
            EXPECT_EQ(names, listed) << what << " by option " << option;
        }
    }
}

// A name beyond ASCII is listed, dated and titled as an ASCII one is, by either order.
TEST_F(PanesList, NamesBeyondAsciiAreDatedAndTitledAsAnyOther)
{
    const std::tuple<QString, int64_t, QByteArray> notes[] = {{"plain.txt", 300, "beta"},
                                                             {"\u00E9t\u00E9.txt", 200, "alpha"},
                                                             {"\u65E5\u8A18.txt", 100, "gamma"}};
    for (const auto& [key, date, title] : notes)
        note(key, NoteStorageInbox, date, 0, title + "\nbody")->writeIndexFile();
    for (const auto& [option, order] : {std::pair{int64_t(0), QList{0, 1, 2}}, {int64_t(2), QList{1, 0, 2}}}) {
        core.setNoteSortOptions(option);
        ASSERT_TRUE(load());
        ASSERT_EQ(list.items().size(), 3);
        for (qsizetype i = 0; i < 3; ++i) {
            const auto& [key, date, title] = notes[order[i]];
            EXPECT_EQ(list.items()[i]->key(), key) << option;
            EXPECT_EQ(list.items()[i]->updatedOn(), date) << option;
            EXPECT_EQ(list.items()[i]->title(), QString::fromUtf8(title)) << option;
        }
    }
}

// By title, every header is read, a long one whole, in a list spread over several reading slices,
// also while every thread of the global pool is held busy; titles equal but for case, or folding
// alike, sit together (their order among themselves is the latest change's, tested with the dates).
TEST_F(PanesList, SortsByTitleIgnoringCaseOverEveryHeader)
{
    for (int i = 0; i < 1100; ++i)
        note(QStringLiteral("m%1.txt").arg(i), NoteStorageInbox, 100, 0, QStringLiteral("m %1").arg(i, 4, 10, QLatin1Char('0')).toUtf8());
    for (const auto& [key, title] : {std::pair{"banana.txt", QStringLiteral("banana")},
                                     {"apple.txt", QStringLiteral("apple")},
                                     {"Apple.txt", QStringLiteral("Apple")},
                                     {"eclair.txt", QStringLiteral("\u00E9clair")},
                                     {"Eclair.txt", QStringLiteral("\u00C9CLAIR")},
                                     {"zebra.txt", QStringLiteral("Zebra")},
                                     {"aardvark.txt", QStringLiteral("aardvark")}})
        note(QString::fromLatin1(key), NoteStorageInbox, 100, 0, title.toUtf8() + "\nbody");
    // A header far longer than a note makes, so that it takes more than one read.
    note(QStringLiteral("long.txt"), NoteStorageInbox, 100);
    const NoteHeaderFile longHeader{QStringLiteral("\u00E9long") + QString(QChar(0xE9)).repeated(6000), "summary"};
    TestSupport::writeFile(Note::headerFileForKey(QStringLiteral("long.txt"), NoteStorageInbox), longHeader.data());
    core.setNoteSortOptions(2);
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    for (unsigned i = 0; i < 4 * std::max(4u, std::thread::hardware_concurrency()); ++i)
        DispatchQueue::global()->async([released] { released.wait(); });
    bool loaded = false;
    list.selectStorage(NoteStorageInbox, {}, [&](bool reloaded) { loaded = reloaded; });
    const bool loadedWhileBusy = DispatchQueue::runMainUntil([&] { return loaded; }, 10);
    release.set_value();
    settle();
    ASSERT_TRUE(loadedWhileBusy);
    const QStringList order = keys(list.items());
    ASSERT_EQ(order.size(), 1108);
    const auto together = [&](qsizetype at, QStringList expected) {
        QStringList found = order.mid(at, expected.size());
        found.sort();
        expected.sort();
        return found == expected;
    };
    EXPECT_EQ(order.first(), QStringLiteral("aardvark.txt"));
    EXPECT_TRUE(together(1, {"apple.txt", "Apple.txt"}));
    EXPECT_EQ(order.mid(3, 2), (QStringList{"banana.txt", "m0.txt"}));
    EXPECT_EQ(order.at(1104), QStringLiteral("zebra.txt"));
    EXPECT_TRUE(together(1105, {"eclair.txt", "Eclair.txt"}));
    EXPECT_EQ(order.last(), QStringLiteral("long.txt"));
    EXPECT_EQ(list.items().last()->title(), longHeader.title);
    for (qsizetype i = 4; i < 1104; ++i)
        ASSERT_EQ(order.at(i), QStringLiteral("m%1.txt").arg(i - 4));
}

// By title, the titles kept from one listing serve the next, in the same pane and in a new one (shown
// here with the header files gone); a note another program changed sorts by the title the store then
// reads from it, also when a listing came between the change and the store's reading.
TEST_F(PanesList, TitleSortKeepsTitlesOnlyForTheTextTheyWereReadFrom)
{
    indexed(QStringLiteral("a.txt"), "alpha");
    indexed(QStringLiteral("b.txt"), "beta");
    indexed(QStringLiteral("c.txt"), "gamma");
    core.setNoteSortOptions(2);
    EXPECT_EQ(titlesOf(list), (QStringList{"alpha", "beta", "gamma"}));

    TestSupport::writeFile(Note::documentFileForKey(QStringLiteral("b.txt"), NoteStorageInbox), "aardvark\nbody");
    titlesOf(list);
    Note takenIn(QStringLiteral("b.txt"), NoteStorageInbox);
    ASSERT_TRUE(takenIn.restoreText());
    takenIn.writeHeaderFile();
    takenIn.writeIndexFile();
    EXPECT_EQ(titlesOf(list), (QStringList{"aardvark", "alpha", "gamma"}));
    EXPECT_EQ(keys(list.items()), (QStringList{"b.txt", "a.txt", "c.txt"}));

    QDir(Note::headerDirectoryForStorage(NoteStorageInbox)).removeRecursively();
    ListViewController fresh{sharedTestCore()};
    EXPECT_EQ(titlesOf(fresh), (QStringList{"aardvark", "alpha", "gamma"}));
}

// A missing or damaged file of kept titles counts as empty: the titles come from the header files,
// nothing else changes, and the file is made anew.
TEST_F(PanesList, TitleSortReadsHeadersPastADamagedTitleFile)
{
    indexed(QStringLiteral("a.txt"), "alpha");
    indexed(QStringLiteral("b.txt"), "beta");
    indexed(QStringLiteral("c.txt"), "gamma");
    core.setNoteSortOptions(2);
    const QStringList titles{"alpha", "beta", "gamma"};
    EXPECT_EQ(titlesOf(list), titles);
    const QString file = ListTitleCache::fileForStorage(NoteStorageInbox);
    const QByteArray good = TestSupport::readFile(file);
    const QByteArray beta("\0b\0e\0t\0a", 8);
    ASSERT_TRUE(good.contains(beta));
    const std::pair<const char*, std::optional<QByteArray>> damages[] = {
        {"missing", std::nullopt},
        {"empty", QByteArray()},
        {"another format", QByteArray(good).replace("list-titles 1", "list-titles 9")},
        {"a title changed", QByteArray(good).replace(beta, QByteArray("\0z\0e\0t\0a", 8))},
        {"cut short", good.left(good.size() - 3)},
        {"more behind", good + "x"},
        {"noise", QByteArray(4096, '\x7f')},
    };
    for (const auto& [damage, bytes] : damages) {
        SCOPED_TRACE(damage);
        QFile::remove(file);
        if (bytes)
            TestSupport::writeFile(file, *bytes);
        ListViewController fresh{sharedTestCore()};
        EXPECT_EQ(titlesOf(fresh), titles);
        EXPECT_EQ(keys(fresh.items()), (QStringList{"a.txt", "b.txt", "c.txt"}));
    }
    QDir(Note::headerDirectoryForStorage(NoteStorageInbox)).removeRecursively();
    ListViewController fresh{sharedTestCore()};
    EXPECT_EQ(titlesOf(fresh), titles);
}

TEST_F(PanesList, ReloadsAskedDuringAnotherCoalesceIntoOneWithTheLatestChoice)
{
    note(QStringLiteral("inbox.txt"), NoteStorageInbox, 100);
    note(QStringLiteral("kept.txt"), NoteStorageArchive, 100);
    QList<std::pair<QString, bool>> completions;
    const auto record = [&](const QString& name) {
        return [&, name](bool shown) { completions.append({name, shown}); };
    };
    list.selectStorage(NoteStorageInbox, {}, record("inbox"));
    list.selectStorage(NoteTagHashtag, QStringLiteral("none"), record("tag"));
    list.selectStorage(NoteStorageArchive, {}, record("archive"));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return completions.size() == 3; }, 10));
    settle();
    EXPECT_EQ(completions, (QList<std::pair<QString, bool>>{{"tag", false}, {"inbox", false}, {"archive", true}}));
    EXPECT_EQ(keys(list.items()), QStringList{"kept.txt"});

    std::optional<bool> again;
    list.searchNote(QStringLiteral("walk"), [&](bool shown) { again = shown; });
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return again.has_value(); }, 10));
    again.reset();
    list.searchNote(QStringLiteral("walk"), [&](bool shown) { again = shown; });
    EXPECT_EQ(again, false) << "the same query answers at once";
}

TEST_F(PanesList, NextAndPreviousCrossTheSections)
{
    for (const QString& key : {QStringLiteral("i0.txt"), QStringLiteral("i1.txt")})
        link(NoteTagMention, QStringLiteral("ann"), key, NoteStorageInbox), note(key, NoteStorageInbox, 100);
    for (const QString& key : {QStringLiteral("r0.txt"), QStringLiteral("r1.txt")})
        link(NoteTagMention, QStringLiteral("ann"), key, NoteStorageArchive), note(key, NoteStorageArchive, 100);
    ASSERT_TRUE(load(NoteTagMention, QStringLiteral("ann")));
    ASSERT_EQ(list.items().size(), 2);
    ASSERT_EQ(list.archivedItems().size(), 2);
    struct Step {
        IndexPath from;
        bool next;
        bool answer;
        IndexPath to;
    };
    const Step steps[] = {
        {{1, 0}, false, false, {1, 0}}, {{2, 0}, false, true, {1, 1}}, {{1, 1}, true, true, {2, 0}},
        {{2, 1}, true, false, {2, 1}},  {{2, 1}, false, true, {2, 0}}, {{1, 0}, true, true, {1, 1}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.from.section << ":" << s.from.row << (s.next ? " next" : " previous"));
        list.selectNote(std::make_shared<Note>(list.items().at(0)->key(), NoteStorageInbox));
        list.tableBridge()->selectRow(s.from.row, s.from.section);
        EXPECT_EQ(s.next ? list.selectNextNote() : list.selectPreviousNote(), s.answer);
        EXPECT_EQ(selection(), s.to);
    }
    EXPECT_FALSE(list.selectNote(std::make_shared<Note>(QStringLiteral("elsewhere.txt"), NoteStorageInbox)));
    EXPECT_EQ(selection(), (IndexPath{1, 1}));
}

// The window may show a note whose row has not come yet (typing just split off into a file of its own)
// while the list still highlights the note it came from: choosing that row again opens it.
TEST_F(PanesList, ChoosingTheHighlightedRowAgainTellsTheWindow)
{
    for (const QString& key : {QStringLiteral("a.txt"), QStringLiteral("b.txt")})
        note(key, NoteStorageInbox, 100);
    ASSERT_TRUE(load());
    for (const char* key : {"a.txt", "a.txt", "b.txt", "b.txt"})
        ASSERT_TRUE(list.selectNote(std::make_shared<Note>(QString::fromLatin1(key), NoteStorageInbox)));
    EXPECT_EQ(delegate.selected, QStringList({"a.txt", "a.txt", "b.txt", "b.txt"}));
}

TEST_F(PanesList, DeletingTheSelectedRowSelectsANeighbour)
{
    struct Case {
        QStringList inbox, archived;
        IndexPath deleted;
        std::optional<IndexPath> then;
    };
    const Case cases[] = {
        {{"i0"}, {"r0", "r1"}, {1, 0}, IndexPath{2, 0}},
        {{"i0"}, {"r0", "r1"}, {2, 1}, IndexPath{2, 0}},
        {{"i0", "i1"}, {"r0"}, {2, 0}, IndexPath{1, 1}},
        {{"i0", "i1", "i2"}, {}, {1, 1}, IndexPath{1, 1}},
        {{"i0"}, {}, {1, 0}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.deleted.section << ":" << c.deleted.row);
        QDir(Note::linkDirectoryForTag(NoteTagHashtag)).removeRecursively();
        for (const QString& key : c.inbox)
            link(NoteTagHashtag, QStringLiteral("Plan"), key, NoteStorageInbox);
        for (const QString& key : c.archived)
            link(NoteTagHashtag, QStringLiteral("Plan"), key, NoteStorageArchive);
        ASSERT_TRUE(load(NoteTagHashtag, QStringLiteral("Plan")));
        const ListItems& section = c.deleted.section == 1 ? list.items() : list.archivedItems();
        const NotePtr gone = std::make_shared<Note>(section.at(c.deleted.row)->key(), section.at(c.deleted.row)->storage());
        ASSERT_TRUE(list.selectNote(gone));
        QWidget* leaving = list.tableBridge()->rowView(c.deleted.row, c.deleted.section, true);
        ASSERT_TRUE(leaving);
        const QRect from = leaving->geometry();
        list.noteDidDelete(gone, NoteTagHashtag, QStringLiteral("PLAN"));
        EXPECT_EQ(leaving->geometry(), from.translated(0, -from.height())) << "the row slides up, not aside";
        EXPECT_EQ(leaving->parentWidget()->children().indexOf(leaving), 0) << "behind the rows closing the gap";
        settle();
        EXPECT_EQ(selection(), c.then);
        EXPECT_EQ(list.emptyView()->isVisible(), !c.then.has_value());
    }
    // An unselected deletion keeps the selection on its note.
    QDir(Note::linkDirectoryForTag(NoteTagHashtag)).removeRecursively();
    link(NoteTagHashtag, QStringLiteral("Plan"), QStringLiteral("x0"), NoteStorageInbox);
    link(NoteTagHashtag, QStringLiteral("Plan"), QStringLiteral("x1"), NoteStorageInbox);
    ASSERT_TRUE(load(NoteTagHashtag, QStringLiteral("Plan")));
    const QString kept = list.items().at(1)->key();
    list.selectNote(std::make_shared<Note>(kept, NoteStorageInbox));
    list.noteDidDelete(std::make_shared<Note>(list.items().at(0)->key(), NoteStorageInbox), NoteTagHashtag,
                       QStringLiteral("plan"));
    settle();
    EXPECT_EQ(keys(list.items()), QStringList{kept});
    EXPECT_EQ(selection(), (IndexPath{1, 0}));
}

TEST_F(PanesList, AdditionsAndMovesFollowTheStoreEvents)
{
    link(NoteTagHashtag, QStringLiteral("plan"), QStringLiteral("a.txt"), NoteStorageInbox);
    ASSERT_TRUE(load(NoteTagHashtag, QStringLiteral("plan")));
    const NotePtr archived = note(QStringLiteral("b.txt"), NoteStorageArchive, 100);
    core.noteDidAddToStorage(archived, NoteTagHashtag, QStringLiteral("PLAN"));
    core.noteDidAddToStorage(archived, NoteTagHashtag, QStringLiteral("plan"));
    core.noteDidAddToStorage(archived, NoteTagHashtag, QStringLiteral("other"));
    settle();
    EXPECT_EQ(keys(list.archivedItems()), QStringList{"b.txt"}) << "one row, in the archive section";
    core.noteDidMoveTo(std::make_shared<Note>(QStringLiteral("a.txt"), NoteStorageInbox),
                       std::make_shared<Note>(QStringLiteral("a.txt"), NoteStorageArchive));
    settle();
    EXPECT_EQ(keys(list.items()), QStringList{"a.txt"}) << "a tag list follows the tag links, not moves";

    note(QStringLiteral("old.txt"), NoteStorageInbox, 100);
    ASSERT_TRUE(load());
    core.noteDidMoveTo(std::make_shared<Note>(QStringLiteral("old.txt"), NoteStorageInbox),
                       std::make_shared<Note>(QStringLiteral("new.txt"), NoteStorageInbox));
    settle();
    EXPECT_EQ(keys(list.items()), QStringList{"new.txt"}) << "a rename renames the row";
    core.noteDidMoveTo(std::make_shared<Note>(QStringLiteral("new.txt"), NoteStorageInbox),
                       std::make_shared<Note>(QStringLiteral("new.txt"), NoteStorageArchive));
    settle();
    EXPECT_TRUE(list.items().isEmpty()) << "archiving leaves the inbox";
}

TEST_F(PanesList, ARenamedNoteStaysSelectedUnderItsNewName)
{
    using Event = void (Core::*)(const NotePtr&, const NotePtr&);
    const struct {
        const char* name;
        Event event;
    } events[] = {{"will move", &Core::noteWillMoveTo}, {"did move", &Core::noteDidMoveTo}};
    for (const auto& e : events) {
        SCOPED_TRACE(e.name);
        QDir(Note::documentDirectoryForStorage(NoteStorageInbox)).removeRecursively();
        note(QStringLiteral("a.txt"), NoteStorageInbox, 200);
        note(QStringLiteral("b.txt"), NoteStorageInbox, 100);
        ASSERT_TRUE(load());
        ASSERT_TRUE(list.selectNote(std::make_shared<Note>(QStringLiteral("a.txt"), NoteStorageInbox)));
        (core.*e.event)(std::make_shared<Note>(QStringLiteral("a.txt"), NoteStorageInbox),
                        std::make_shared<Note>(QStringLiteral("Plan.txt"), NoteStorageInbox));
        settle();
        EXPECT_EQ(keys(list.items()), (QStringList{"Plan.txt", "b.txt"}));
        ASSERT_TRUE(list.selectedNote());
        EXPECT_EQ(list.selectedNote()->key(), QStringLiteral("Plan.txt"));
        EXPECT_EQ(selection(), (IndexPath{ListViewController::Notes, 0}));
    }
}

// The open note keeps the highlight wherever a re-sort or an insertion puts its row, and a note
// opened before its row is listed is highlighted when the row comes.
TEST_F(PanesList, TheFollowedNoteKeepsTheHighlightThroughReSortsAndInsertions)
{
    note(QStringLiteral("c.txt"), NoteStorageInbox, 300, 0, "Cherry");
    note(QStringLiteral("a.txt"), NoteStorageInbox, 200, 0, "Apple");
    note(QStringLiteral("b.txt"), NoteStorageInbox, 100, 0, "Banana");
    ASSERT_TRUE(load());
    list.followNote(std::make_shared<Note>(QStringLiteral("c.txt"), NoteStorageInbox));
    const struct Step {
        const char* what;
        std::function<void()> act;
        std::optional<IndexPath> highlighted;
    } steps[] = {
        {"followed", [] {}, IndexPath{1, 0}},
        {"sorted by title",
         [&] {
             core.setNoteSortOptions(2);
             list.reloadList();
         },
         IndexPath{1, 2}},
        {"a row above it", [&] { core.noteDidAddToStorage(note(QStringLiteral("0.txt"), NoteStorageInbox, 50, 0, "Aardvark"), NoteStorageInbox, {}); },
         IndexPath{1, 3}},
        {"a note not listed yet", [&] { list.followNote(std::make_shared<Note>(QStringLiteral("new.txt"), NoteStorageInbox)); },
         std::nullopt},
        {"its row comes", [&] { core.noteDidAddToStorage(note(QStringLiteral("new.txt"), NoteStorageInbox, 60, 0, "Berry"), NoteStorageInbox, {}); },
         IndexPath{1, 3}},
        {"back by date", [&] {
             core.setNoteSortOptions(0);
             list.reloadList();
         },
         IndexPath{1, 3}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.act();
        settle();
        EXPECT_EQ(selection(), s.highlighted);
    }
    ASSERT_TRUE(list.selectedNote());
    EXPECT_EQ(list.selectedNote()->key(), QStringLiteral("new.txt"));
}

// Within one second the note changed last comes first: an edit, and a listing of files whose dates
// (kept in whole seconds) are equal.
TEST_F(PanesList, TheNoteChangedLastLeadsAmongEqualDates)
{
    TestSupport::VirtualTime time;
    for (const char* key : {"a.txt", "b.txt", "c.txt"})
        note(QString::fromLatin1(key), NoteStorageInbox, 100, 0, key);
    ASSERT_TRUE(load());
    for (const char* key : {"c.txt", "a.txt", "b.txt"}) {
        delegate.text = QString::fromLatin1(key);
        list.noteDidEditingText(std::make_shared<Note>(QString::fromLatin1(key), NoteStorageInbox));
        settle();
    }
    EXPECT_EQ(keys(list.items()), (QStringList{"b.txt", "a.txt", "c.txt"})) << "edited in one second";

    // Dated to the same second in another order than their names and creation. The file system's
    // clock is coarse: each dating is repeated until it reads later than the one before.
    QDateTime last;
    for (const char* key : {"b.txt", "c.txt", "a.txt"}) {
        const QString path = Note::documentFileForKey(QString::fromLatin1(key), NoteStorageInbox);
        do
            FileDates::setModificationDate(path, 200);
        while (QFileInfo(path).metadataChangeTime() <= last);
        last = QFileInfo(path).metadataChangeTime();
    }
    ASSERT_TRUE(load());
    EXPECT_EQ(keys(list.items()), (QStringList{"a.txt", "c.txt", "b.txt"})) << "listed";
}

TEST_F(PanesList, AnEventBetweenAReloadsListingAndItsRowsIsApplied)
{
    note(QStringLiteral("first.txt"), NoteStorageInbox, 100);
    ASSERT_TRUE(load());
    bool done = false;
    list.reloadList([&](bool) { done = true; });
    core.fileQueue()->sync([] {}); // listed; the rows wait on the main queue
    const NotePtr late = note(QStringLiteral("late.txt"), NoteStorageInbox, 200);
    core.noteDidAddToStorage(late, NoteStorageInbox, {});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return done; }, 10));
    settle();
    EXPECT_EQ(keys(list.items()), (QStringList{"late.txt", "first.txt"}));
}

// The editor hands the list only the first LiveEditRead units of a long text: the row is built from
// what the whole text would have given, wherever the last line break before the cut lies.
TEST_F(PanesList, TheLiveRowIsBuiltFromTheEditorsFirstUnitsAsFromTheWholeText)
{
    const qsizetype cut = ListViewController::LiveEditPrefix;
    const auto text = [](qsizetype length, QList<qsizetype> breaks) {
        QString made(length, u'w');
        for (const qsizetype at : breaks)
            made[at] = u'\n';
        return made;
    };
    const struct Case {
        const char* name;
        QString text;
    } cases[] = {
        {"short", QStringLiteral("Title\nbody")},
        {"as long as the prefix", text(cut, {5, cut - 1})},
        {"one past it, a break at its end", text(cut + 1, {5, cut})},
        {"longer, the last break just inside", text(cut + 40, {5, cut - 1, cut + 1})},
        {"longer, a break just past the prefix", text(cut + 40, {5, cut, cut + 2})},
        {"longer, no break", text(3 * cut, {})},
    };
    note(QStringLiteral("a.txt"), NoteStorageInbox, 300, 30, "Apple");
    const NotePtr edited = note(QStringLiteral("b.txt"), NoteStorageInbox, 200, 20, "Banana");
    ASSERT_TRUE(load());
    auto handed = std::make_shared<QString>();
    list.setLiveRowBuilder([handed](const SnippetFormatter& formatter, const QString& built) {
        *handed = built;
        return ListViewController::buildLiveRow(formatter, built);
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList seen;
        for (const QString& given : {c.text, c.text.left(ListViewController::LiveEditRead)}) {
            delegate.text = given;
            list.noteDidEditingText(edited);
            settle();
            seen << *handed;
        }
        EXPECT_EQ(seen[1], seen[0]);
        EXPECT_LE(seen[0].size(), cut);
    }
}

// The editor hands over only the start of a body of one long line: the row still shows what the
// saved note shows.
TEST_F(PanesList, AnEditedNoteOfOneLongLineKeepsItsSnippet)
{
    QByteArray line = "Long line\nwords";
    while (line.size() < 300 * 1024)
        line += " of words";
    const NotePtr edited = note(QStringLiteral("long.txt"), NoteStorageInbox, 100, 0, line);
    ASSERT_TRUE(load());
    ListEntryCell* cell = cellAt(0, 1);
    ASSERT_TRUE(cell && cell->titleLabel()->attributedText());
    const QString saved = cell->titleLabel()->attributedText()->string();
    ASSERT_FALSE(saved.isEmpty());
    delegate.text = QString::fromLatin1(line).left(ListViewController::LiveEditRead);
    list.noteDidEditingText(edited);
    settle();
    ASSERT_TRUE(cell->titleLabel()->attributedText());
    EXPECT_EQ(cell->titleLabel()->attributedText()->string(), saved);
}

TEST_F(PanesList, TypingUpdatesTheEditedRowOnePassAtATime)
{
    struct Case {
        int64_t option;
        QString text;
        QStringList order; // after editing c.txt
        bool buildFails = false;
    };
    const Case cases[] = {
        {0, QStringLiteral("Zebra\nbody"), {"c.txt", "a.txt", "b.txt"}},
        {1, QStringLiteral("Zebra\nbody"), {"a.txt", "b.txt", "c.txt"}},
        {2, QStringLiteral("Cherry\nnew body"), {"a.txt", "b.txt", "c.txt"}},
        // A failed pass is logged, keeps the row, and the next edit still gets its pass.
        {0, QStringLiteral("Zebra\nbody"), {"a.txt", "b.txt", "c.txt"}, true},
        {2, QStringLiteral("Aardvark\nbody"), {"c.txt", "a.txt", "b.txt"}},
    };
    const auto capture = LogCapture::install();
    qsizetype failures = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString() + " option " + std::to_string(c.option) + (c.buildFails ? " failing" : ""));
        core.setNoteSortOptions(c.option);
        list.setLiveRowBuilder(c.buildFails ? [](const SnippetFormatter&, const QString&) -> ListViewController::LiveRow {
            throw std::runtime_error("no memory");
        } : ListViewController::LiveRowBuilder(&ListViewController::buildLiveRow));
        note(QStringLiteral("a.txt"), NoteStorageInbox, 300, 30, "Apple");
        note(QStringLiteral("b.txt"), NoteStorageInbox, 200, 20, "Banana");
        const NotePtr edited = note(QStringLiteral("c.txt"), NoteStorageInbox, 100, 10, "Cherry");
        ASSERT_TRUE(load());
        ASSERT_EQ(keys(list.items()), (QStringList{"a.txt", "b.txt", "c.txt"}));
        delegate.textAsked = 0;
        delegate.text = c.text;
        for (int i = 0; i < 5; ++i)
            list.noteDidEditingText(edited);
        settle();
        EXPECT_EQ(delegate.textAsked, 2) << "one pass, then one for the rest of the burst";
        EXPECT_EQ(keys(list.items()), c.order);
        const int64_t row = c.order.indexOf(QStringLiteral("c.txt"));
        EXPECT_EQ(list.items().at(row)->title(), c.buildFails ? QStringLiteral("Cherry") : c.text.section(QLatin1Char('\n'), 0, 0));
        if (!c.buildFails) {
            EXPECT_EQ(selection(), (IndexPath{1, row}));
        }
        failures += c.buildFails ? 2 : 0; // both passes of the burst
        EXPECT_EQ(capture->lines().count(QStringLiteral("list:updateEditingNote error no memory")), failures);
    }
    capture->uninstall();
    delegate.textAsked = 0;
    list.noteDidEditingText(std::make_shared<Note>(QStringLiteral("elsewhere.txt"), NoteStorageInbox));
    list.noteDidEditingText(std::make_shared<Note>(QString(), NoteStorageInbox));
    settle();
    EXPECT_EQ(delegate.textAsked, 2);
    EXPECT_EQ(list.items().size(), 3);
}

TEST_F(PanesList, RowsAreDressedByStorageAndTheHeaderOnlyOverArchivedRowsInTheThemesColours)
{
    link(NoteTagHashtag, QStringLiteral("plan"), QStringLiteral("a.txt"), NoteStorageInbox);
    link(NoteTagHashtag, QStringLiteral("plan"), QStringLiteral("b.txt"), NoteStorageArchive);
    note(QStringLiteral("a.txt"), NoteStorageInbox, 100, 0, "Inbox title\nbody");
    note(QStringLiteral("b.txt"), NoteStorageArchive, 100);
    ASSERT_TRUE(load(NoteTagHashtag, QStringLiteral("plan")));
    ListEntryCell* inbox = cellAt(0, 1);
    ListEntryCell* archived = cellAt(0, 2);
    ASSERT_TRUE(inbox && archived);
    EXPECT_EQ(inbox->mode(), ListEntryCell::Swipe);
    EXPECT_EQ(inbox->swipeLabel()->text(), QStringLiteral("Archive"));
    EXPECT_FALSE(inbox->swipeArrow()->pixmap().isNull());
    EXPECT_TRUE(inbox->swipeContainer()->isVisibleTo(inbox));
    EXPECT_EQ(archived->mode(), ListEntryCell::TwoButtons);
    EXPECT_FALSE(archived->swipeContainer()->isVisibleTo(archived));
    EXPECT_EQ(archived->restoreButton()->text(), QStringLiteral("Restore"));
    EXPECT_EQ(archived->trashButton()->text(), QStringLiteral("Delete"));
    EXPECT_EQ(inbox->titleLabel()->geometry(), QRect(-24, 8, 308, 96 - 12));
    ASSERT_TRUE(inbox->titleLabel()->attributedText());
    EXPECT_TRUE(inbox->titleLabel()->attributedText()->string().startsWith(QStringLiteral("Inbox title")));

    auto* header = dynamic_cast<QLabel*>(list.tableView()->viewAtRow(list.tableBridge()->rowForHeader(2), true));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->text(), QStringLiteral("A R C H I V E"));
    EXPECT_EQ(header->font(), FontFaces::qfont(Typeset::regularFontForTypeface(0, 12)));
    auto* blank = dynamic_cast<QLabel*>(list.tableView()->viewAtRow(list.tableBridge()->rowForHeader(1), true));
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->text(), QString());

    for (const ThemeID theme : {0, 1, 2, 18}) {
        SCOPED_TRACE(theme);
        core.setColorTheme(theme);
        list.reloadTheme();
        ASSERT_TRUE(load(NoteTagHashtag, QStringLiteral("plan")));
        const QWidget* shown = list.tableView()->viewAtRow(list.tableBridge()->rowForHeader(2), true);
        ASSERT_TRUE(shown);
        const QImage shot = list.tableView()->viewport()->grab().toImage();
        const QColor fill = laid({toQColor(Themeset::menuBackgroundColorForTheme(theme)),
                                  toQColor(Themeset::headerBackgroundColorForTheme(theme))});
        EXPECT_EQ(shot.pixelColor(shown->geometry().topLeft() + QPoint(3, 3)).name(), fill.name());
        EXPECT_EQ(inkColour(shot, shown->geometry(), fill).name(),
                  laid({fill, toQColor(Themeset::headerColorForTheme(theme))}).name());
    }
}

TEST_F(PanesList, TheSelectedRowShowsWhereTheFocusIs)
{
    note(QStringLiteral("a.txt"), NoteStorageInbox, 200);
    note(QStringLiteral("b.txt"), NoteStorageInbox, 100);
    QWidget window;
    auto* editor = new QLineEdit(&window);
    auto* search = new QLineEdit(&window);
    list.setSearchField(search);
    list.view()->setParent(&window);
    list.view()->setGeometry(0, 30, 300, 500);
    window.resize(300, 530);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(load());
    ASSERT_TRUE(list.selectNote(nullptr));
    settle();
    // Read from the window's backing store: a row that is not repainted keeps its old colour there.
    const auto shownColour = [&](int64_t row) {
        const QRect rect = list.tableView()->rectOfRow(list.tableBridge()->rowForRow(row, 1));
        return paintedColour(*list.tableView()->viewport(), QPoint(rect.right() - 30, rect.center().y()));
    };
    const ThemeID theme = core.colorTheme();
    const QColor plain = toQColor(Themeset::menuBackgroundColorForTheme(theme));
    struct Step {
        const char* what;
        std::function<void()> act;
        int64_t highlighted;
        QColor colour;
    };
    QWidget front;
    const Step steps[] = {
        {"list focused", [&] { list.tableView()->setFocus(); }, 0,
         toQColor(Themeset::firstResponderHighlightBackgroundColorForTheme(theme))},
        {"editor focused", [&] { editor->setFocus(); }, 0,
         toQColor(Themeset::keyWindowHighlightBackgroundColorForTheme(theme))},
        {"search field focused",
         [&] {
             search->setFocus();
             list.highlightSelectedNote();
         },
         0, toQColor(Themeset::firstResponderHighlightBackgroundColorForTheme(theme))},
        {"editor focused again",
         [&] {
             editor->setFocus();
             list.highlightSelectedNote();
         },
         0, toQColor(Themeset::keyWindowHighlightBackgroundColorForTheme(theme))},
        {"selection moved with the editor focused",
         [&] { list.selectNote(std::make_shared<Note>(QStringLiteral("b.txt"), NoteStorageInbox)); }, 1,
         toQColor(Themeset::keyWindowHighlightBackgroundColorForTheme(theme))},
        {"selection moved back", [&] { list.selectNote(nullptr); }, 0,
         toQColor(Themeset::keyWindowHighlightBackgroundColorForTheme(theme))},
        {"window behind",
         [&] {
             front.show();
             front.activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(&front));
             list.highlightSelectedNote();
         },
         0, toQColor(Themeset::backWindowHighlightBackgroundColorForTheme(theme))},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        settle();
        EXPECT_EQ(shownColour(step.highlighted).name(), step.colour.name());
        EXPECT_EQ(shownColour(1 - step.highlighted).name(), plain.name());
    }
    list.view()->setParent(nullptr);
}

TEST_F(PanesList, AnEmptySearchSaysNothingMatchedRatherThanThatThereAreNoNotes)
{
    const struct {
        const char* query;
        const char* longText;
        const char* shortText;
    } steps[] = {
        {"meeting notes", "No notes match\n\u201Cmeeting notes\u201D.", "No matches"},
        {"", "No notes here yet.", "No notes"},
    };
    ASSERT_TRUE(load());
    for (const auto& s : steps) {
        SCOPED_TRACE(s.query);
        std::optional<bool> done;
        list.searchNote(QString::fromUtf8(s.query), [&](bool shown) { done = shown; });
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return done.has_value(); }, 10));
        settle();
        EXPECT_TRUE(list.emptyView()->isVisible());
        EXPECT_TRUE(list.longEmptyLabel()->text().startsWith(QString::fromUtf8(s.longText)));
        EXPECT_EQ(list.shortEmptyLabel()->text(), QString::fromUtf8(s.shortText));
        EXPECT_TRUE(list.longEmptyLabel()->isVisible()) << "the longer text still fits";
    }
}

TEST_F(PanesList, TheEmptyViewSwapsItsTextWhenTheFitChanges)
{
    ASSERT_TRUE(load());
    ASSERT_TRUE(list.emptyView()->isVisible());
    const QSize text = list.longEmptyLabel()->size();
    struct Step {
        QSize pane;
        bool longShown;
        QPoint longAt;
    };
    const Step steps[] = {
        {{text.width() + 50, text.height() + 100}, true, {25, 40}},
        {{text.width() + 49, 600}, false, {}},
        {{300, text.height() + 99}, false, {}},
        {{400, 600}, true, {(400 - text.width()) / 2, int((600 - text.height()) * 0.4f)}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.pane.width() << "x" << s.pane.height());
        list.view()->resize(s.pane);
        settle();
        EXPECT_EQ(list.longEmptyLabel()->isVisible(), s.longShown);
        EXPECT_EQ(list.shortEmptyLabel()->isVisible(), !s.longShown);
        if (s.longShown)
            EXPECT_EQ(list.longEmptyLabel()->pos(), s.longAt);
        else
            EXPECT_EQ(list.shortEmptyLabel()->geometry(), QRect(0, 60, s.pane.width(), s.pane.height() - 100));
    }
}

} // namespace
