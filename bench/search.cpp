// The note search over a seeded search database of notes of about 2 KB each
// and 1,000 tags, with rows as the commit writes them; the note count comes
// from the command line (1000, 10000, 50000) and names every figure. Each
// query runs the whole cascade (title, loose title, content, and the LIKE
// fallback when nothing is found) inside syncDatabase, as the note list and
// quick open run it, over all notes and inside one hashtag's view; p50 and
// p95 per group. The typed groups send each query keystroke by keystroke
// through one search session, as the search field does, so a content scan
// that came back empty is not run again for the longer query. Target: p95
// <= 30 ms for every group at 50,000 notes on two cores. Beside the queries
// of whole words ending in the first letter or two of another ("buy m"), the
// reference runs the content pass's plain statement alone for each.
#include "Core.h"
#include "SLDatabase.h"
#include "Store/ListItem.h"
#include "Store/Note.h"
#include "Store/NoteSearchRow.h"
#include "Store/NoteSearchSession.h"
#include "Store/TextRows.h"
#include "note_count.h"
#include "UserDefaults.h"

#include <benchmark/benchmark.h>


#include <algorithm>
#include <chrono>
#include <random>
#include <utility>
#include <vector>

namespace {

int Notes = 10000;
constexpr int Tags = 1000;
constexpr int NoteBytes = 2048;

// Words with a skewed frequency, as in real text: a few very common ones and
// a long tail of made-up words built from syllables.
class Words {
public:
    Words()
    {
        for (const char* w : {"the", "and", "to", "of", "a", "in", "is", "that", "for", "it", "on", "with", "as",
                              "this", "be", "at", "have", "from", "or", "by", "not", "we", "meeting", "buy", "todo",
                              "milk", "plan", "review", "notes", "project", "call", "email", "today", "tomorrow"})
            words_.push_back(QString::fromLatin1(w));
        const char* syllables[] = {"ka", "to", "ri", "mel", "dan", "vo", "sti", "pra", "lu", "ne", "gor", "fi",
                                   "tha", "bre", "quo", "zen", "ma", "wel", "os", "ip"};
        std::mt19937 random(7);
        while (words_.size() < 8000) {
            QString word;
            const int parts = 2 + int(random() % 3);
            for (int i = 0; i < parts; ++i)
                word += QString::fromLatin1(syllables[random() % 20]);
            words_.push_back(word);
        }
        std::vector<double> weights;
        for (size_t i = 0; i < words_.size(); ++i)
            weights.push_back(1.0 / double(i + 1));
        pick_ = std::discrete_distribution<size_t>(weights.begin(), weights.end());
    }

    const QString& next(std::mt19937& random) { return words_[pick_(random)]; }

private:
    std::vector<QString> words_;
    std::discrete_distribution<size_t> pick_;
};

// One row per note, as the start-up rebuild writes it, its indexes beside it:
// the key with the storage's search name, the content already cleaned, tags
// in lower case.
void seed(SLDatabase& db)
{
    Words words;
    std::mt19937 random(11);
    std::vector<QString> tags;
    for (int i = 0; i < Tags; ++i)
        tags.push_back(words.next(random) + QString::number(i));
    NoteSearchRow::RowIds ids;
    QList<NoteSearchRow> batch;
    for (int n = 0; n < Notes; ++n) {
        NoteSearchRow row;
        const int titleWords = 2 + int(random() % 4);
        for (int i = 0; i < titleWords; ++i)
            row.title += (i ? QStringLiteral(" ") : QString()) + words.next(random);
        row.title[0] = row.title[0].toUpper();
        QStringList hashtags, mentions;
        for (int i = int(random() % 4); i > 0; --i)
            hashtags.append(tags[random() % Tags]);
        if (random() % 5 == 0)
            mentions.append(tags[random() % Tags]);
        row.content = row.title;
        while (row.content.size() < NoteBytes)
            row.content += QLatin1Char(' ') + words.next(random);
        for (const QString& tag : hashtags)
            row.content += QStringLiteral(" #") + tag;
        row.folder = n % 5 == 0 ? QStringLiteral("archive") : QStringLiteral("inbox");
        row.key = row.folder + QLatin1Char('/') + row.title + QString::number(n) + QStringLiteral(".txt");
        row.hashtag = hashtags.join(QLatin1Char(' '));
        row.mention = mentions.join(QLatin1Char(' '));
        batch.append(row);
        // Batches of the rebuild's size, one transaction each.
        if (batch.size() == 125 || n == Notes - 1)
            NoteSearchRow::writeAll(db, std::exchange(batch, {}), ids);
    }
}

// The seeded table is kept between runs of the same size.
struct Store {
    QString home = NoteCount::storeFolder("search", Notes);
    UserDefaults defaults{home + QStringLiteral("/defaults.ini")};
    QString firstTag;

    Store()
    {
        Core::Configuration configuration;
        configuration.documentDirectory = home + QStringLiteral("/Documents");
        configuration.cachesDirectory = home + QStringLiteral("/Caches/V5");
        configuration.defaults = &defaults;
        Core::configure(configuration);
        Core::shared().syncDatabase([this](SLDatabase& db) {
            if (db.intForQuery(QStringLiteral("SELECT count(*) FROM notes")) != Notes) {
                db.executeUpdate(QStringLiteral("DELETE FROM notes"));
                seed(db);
            }
            firstTag = db.stringForQuery(QStringLiteral("SELECT hashtag FROM notes WHERE hashtag != '' LIMIT 1"))
                           .section(QLatin1Char(' '), 0, 0);
        });
    }
};

Store& store()
{
    static Store instance;
    return instance;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

void report(benchmark::State& state, const std::vector<double>& millis, qsizetype rows)
{
    state.counters["p50_ms"] = percentile(millis, 0.50);
    state.counters["p95_ms"] = percentile(millis, 0.95);
    state.counters["rows"] = double(rows) / double(millis.size());
}

// Each iteration takes the next query of the list; search(query, rows) runs
// its searches and adds the rows found.
template <typename Search>
void timeQueries(benchmark::State& state, const std::vector<QString>& queries, Search&& search)
{
    std::vector<double> millis;
    size_t index = 0;
    qsizetype rows = 0;
    for (auto _ : state)
        search(queries[index++ % queries.size()], millis, rows);
    report(state, millis, rows);
}

double millisSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// One query through the whole cascade.
void searchQueries(benchmark::State& state, const std::vector<QString>& queries, int tagKind)
{
    // Configures the store's Core before any search.
    const QString& firstTag = store().firstTag;
    const QString tag = tagKind ? firstTag : QString();
    timeQueries(state, queries, [&](const QString& query, std::vector<double>& millis, qsizetype& rows) {
        const auto start = std::chrono::steady_clock::now();
        Core::shared().syncDatabase([&](SLDatabase& db) {
            Note::searchDatabase(db, query, tagKind, tag,
                                 [&](const Note::ListItemList& notes, const Note::ListItemList& archived) {
                                     rows += notes.size() + archived.size();
                                 });
        });
        millis.push_back(millisSince(start));
    });
}

// One query typed a character at a time through one session; every
// keystroke's search is timed until its rows arrive.
void typedQueries(benchmark::State& state, const std::vector<QString>& queries, int tagKind)
{
    // Configures the store's Core before any search.
    const QString& firstTag = store().firstTag;
    const QString tag = tagKind ? firstTag : QString();
    timeQueries(state, queries, [&](const QString& query, std::vector<double>& millis, qsizetype& rows) {
        NoteSearchSession session(&Core::shared());
        for (qsizetype length = 1; length <= query.size(); ++length) {
            const auto start = std::chrono::steady_clock::now();
            session.search(query.left(length), tagKind, tag,
                           [&](const Note::ListItemList& notes, const Note::ListItemList& archived) {
                               rows += notes.size() + archived.size();
                           });
            Core::shared().syncDatabase([](SLDatabase&) {});
            millis.push_back(millisSince(start));
        }
    });
}

// Words of every frequency, a phrase, the user's own star.
const std::vector<QString> FoundQueries = {
    QStringLiteral("meeting"), QStringLiteral("tod"),   QStringLiteral("buy milk"), QStringLiteral("kato"),
    QStringLiteral("review"),  QStringLiteral("zenquo"), QStringLiteral("plan"),    QStringLiteral("the"),
    QStringLiteral("melda"),   QStringLiteral("pro*"),   QStringLiteral("tomorrow"), QStringLiteral("stiri"),
};
// Nothing in the index: the full LIKE scan of every note's content.
const std::vector<QString> NotFoundQueries = {
    QStringLiteral("nothing here"), QStringLiteral("xylophone"), QStringLiteral("qqq"), QStringLiteral("jazz band"),
};
// Whole words, then the first letter or two of the next one, as typed.
const std::vector<QString> ShortLastWordQueries = {
    QStringLiteral("buy m"),   QStringLiteral("meeting t"), QStringLiteral("plan to"), QStringLiteral("review a"),
    QStringLiteral("the mi"),  QStringLiteral("call k"),    QStringLiteral("todo q"),  QStringLiteral("email re"),
};
const std::vector<QString> ShortQueries = {
    QStringLiteral("t"), QStringLiteral("a"), QStringLiteral("to"), QStringLiteral("me"),
    QStringLiteral("k"), QStringLiteral("zq"), QStringLiteral("x"), QStringLiteral("ri"),
};

// The content pass's own statement, up to a full list of rows: the word
// table merges every word starting with the last letters first.
void plainContentStatement(benchmark::State& state)
{
    store();
    timeQueries(state, ShortLastWordQueries, [](const QString& query, std::vector<double>& millis, qsizetype& rows) {
        const auto start = std::chrono::steady_clock::now();
        Core::shared().syncDatabase([&](SLDatabase& db) {
            const auto read = readTextRows(db,
                                           QStringLiteral("SELECT key, title, folder, snippet(notes, '[', ']', '...', "
                                                          "-1) FROM notes WHERE content MATCH ?"),
                                           {query + QLatin1Char('*')}, 200, 4);
            rows += read ? qsizetype(read->size()) : 0;
        });
        millis.push_back(millisSince(start));
    });
}

void BM_TagSearch(benchmark::State& state)
{
    // 1,000 tag folders with their spellings, as the commit leaves them.
    static const bool seeded = [] {
        store();
        std::mt19937 random(3);
        Words words;
        for (int i = 0; i < Tags; ++i) {
            const QString name = words.next(random) + QString::number(i);
            QDir().mkpath(Note::linkDirectoryForTag(NoteTagHashtag, name, NoteStorageInbox));
            QFile meta(Note::metaFileForTag(NoteTagHashtag, name));
            if (meta.open(QIODevice::WriteOnly))
                meta.write(name.toUtf8());
        }
        return true;
    }();
    benchmark::DoNotOptimize(seeded);
    qsizetype rows = 0;
    for (auto _ : state)
        Note::searchTagWithQuery(QStringLiteral("#ka"), NoteTagHashtag,
                                 [&](const Note::ListItemList& items) { rows = items.size(); });
    state.counters["rows"] = double(rows);
}

} // namespace

int main(int argc, char** argv)
{
    return NoteCount::run(argc, argv, [](int notes) {
        Notes = notes;
        const QString size = QStringLiteral("/%1").arg(notes);
        const auto add = [&](const char* name, auto function, int iterations) {
            benchmark::RegisterBenchmark((QLatin1String(name) + size).toStdString().c_str(), function)
                ->Iterations(iterations)
                ->Unit(benchmark::kMillisecond);
        };
        struct Group {
            const char* name;
            const std::vector<QString>* queries;
            int iterations;
        };
        for (const Group& group : {Group{"ThreeOrMoreCharacters", &FoundQueries, 240},
                                   Group{"OneOrTwoCharacters", &ShortQueries, 160},
                                   Group{"ShortLastWord", &ShortLastWordQueries, 80},
                                   Group{"NothingFound", &NotFoundQueries, 40}}) {
            for (const int kind : {0, int(NoteTagHashtag)}) {
                const std::string prefix = kind ? "SearchInTag" : "Search";
                const auto* queries = group.queries;
                add((prefix + group.name).c_str(),
                    [queries, kind](benchmark::State& state) { searchQueries(state, *queries, kind); },
                    group.iterations);
            }
        }
        add("ShortLastWordPlainContentReference", plainContentStatement, 80);
        for (const int kind : {0, int(NoteTagHashtag)})
            add(kind ? "TypedInTagNothingFound" : "TypedNothingFound",
                [kind](benchmark::State& state) { typedQueries(state, NotFoundQueries, kind); }, 8);
        add("TypedFound", [](benchmark::State& state) { typedQueries(state, FoundQueries, 0); }, 12);
        benchmark::RegisterBenchmark(("TagSearch" + size).toStdString().c_str(), BM_TagSearch)
            ->Unit(benchmark::kMillisecond);
    });
}
