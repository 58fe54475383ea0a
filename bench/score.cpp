// One full pass of the fuzzy score over 10,000 note titles, as quick open does on every keystroke,
// with the note search's arguments (no fuzziness, divide by the title's length).

#include "Search/Score.h"

#include <benchmark/benchmark.h>

#include <QList>
#include <QString>
#include <QStringList>

#include <random>

namespace {

const QList<QString>& titles()
{
    static const QList<QString> list = [] {
        const QStringList words = {"Meeting", "notes", "project", "plan", "Quick", "open", "todo", "groceries",
                                   "Buy", "milk", "weekly", "review", "ideas", "draft", "journal", "2026",
                                   "März", "été", "Straße", "résumé", "Привет", "book", "list", "reading",
                                   "travel", "Berlin", "recipe", "pasta", "budget", "Q3", "call", "with"};
        std::mt19937 random(20261206);
        QList<QString> out;
        for (int k = 0; k < 10000; ++k) {
            QString title;
            for (int w = 1 + int(random() % 7); w > 0; --w) {
                if (!title.isEmpty())
                    title += ' ';
                title += words[random() % words.size()];
            }
            out << title;
        }
        return out;
    }();
    return list;
}

void fullPass(benchmark::State& state, const QString& query)
{
    const QList<QString>& list = titles();
    int64_t hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const QString& title : list) {
            const double score = Score::scoreAgainst(title, query, std::nullopt, ScoreOptionDivideByStringLength);
            benchmark::DoNotOptimize(score);
            hits += score > 0.0;
        }
    }
    state.counters["titles"] = double(list.size());
    state.counters["hits"] = double(hits);
}

} // namespace

BENCHMARK_CAPTURE(fullPass, one_letter, QString("m"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fullPass, two_letters, QString("qo"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fullPass, word, QString("meet"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fullPass, phrase, QString("meeting notes"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fullPass, missing, QString("xyzzy"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(fullPass, accented, QString::fromUtf8("été"))->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
