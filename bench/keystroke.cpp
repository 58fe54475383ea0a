// One key press into the editor's styled text view to the paint the event loop posts for it, beside
// a QPlainTextEdit and a QTextEdit holding the same seeded note in the same process: 5 rounds of 100
// letters at seeded places in notes of 10 KB, 100 KB, 1 MB and 10 MB, and 1 round in a note of one
// 800 KB line of 100,000 hashtags (where a key takes the peers most of a second), each view 1000×800 on
// the offscreen platform. The caret is brought to the place and painted before the clock starts, as it
// would be there already. Prints the p95 of each and ours over each peer.
#include "TextView.h"
#include "demo/EditorLook.h"
#include "NoteText.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTextEdit>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int KeysPerRound = 100;
// The notes typed into, by their names in the table.
const struct {
    const char* name;
    QString (*text)();
    int rounds;
} Notes[] = {
    {"10 K", [] { return note(10 << 10, 1); }, 5},
    {"100 K", [] { return note(100 << 10, 1); }, 5},
    {"1 M", [] { return note(1 << 20, 1); }, 5},
    {"10 M", [] { return note(10 << 20, 1); }, 5},
    {"1 line 800 K", [] { return oneLineNote(100000, 1); }, 1},
};

QString noteText(const benchmark::State& state)
{
    return Notes[state.range(0)].text();
}

double p95(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() * 95 / 100];
}

// A view under test: the widget that takes the keys, its viewport, and how to put the caret at a unit.
struct Subject {
    QAbstractScrollArea* widget = nullptr;
    std::function<void(qsizetype)> placeCaret;
    std::function<qsizetype()> length;
};

std::vector<double> pressKeys(const Subject& subject, int rounds)
{
    QRandomGenerator random(23);
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < KeysPerRound; ++i) {
            subject.placeCaret(random.bounded(int(subject.length())));
            QApplication::processEvents();
            subject.widget->viewport()->repaint();
            QElapsedTimer timer;
            timer.start();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_E, Qt::NoModifier, QStringLiteral("e"));
            QApplication::sendEvent(subject.widget, &press);
            QCoreApplication::sendPostedEvents(subject.widget->window(), QEvent::UpdateRequest);
            QCoreApplication::sendPostedEvents(subject.widget->viewport(), QEvent::UpdateRequest);
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
    }
    return times;
}

template <typename Edit>
Subject peer(Edit& edit)
{
    return {&edit,
            [&edit](qsizetype at) {
                QTextCursor cursor(edit.document());
                cursor.setPosition(int(at));
                edit.setTextCursor(cursor);
            },
            [&edit] { return qsizetype(edit.document()->characterCount() - 1); }};
}

std::map<std::pair<std::string, int64_t>, double> results;

void run(benchmark::State& state, const std::string& name, const std::function<Subject()>& make)
{
    for (auto _ : state) {
        const Subject subject = make();
        subject.widget->resize(1000, 800);
        subject.widget->show();
        QApplication::processEvents();
        const double time = p95(pressKeys(subject, Notes[state.range(0)].rounds));
        state.counters["p95_ms"] = time;
        results[{name, state.range(0)}] = time;
    }
}

void Ours(benchmark::State& state)
{
    MarkdownTextStorage storage;
    TextView view;
    applyEditorLook(storage, 0, 16, 0, &view);
    view.setTextStorage(&storage);
    storage.replaceCharacters({0, 0}, noteText(state));
    // Keys go into a note that is fully styled and shown, as the peers' notes are.
    while (storage.unstyledRange().length > 0 || view.mirroredLength() < storage.length())
        QApplication::processEvents();
    run(state, "ours", [&] {
        return Subject{&view, [&view](qsizetype at) { view.setSelectedRange({at, 0}); },
                       [&storage] { return storage.length(); }};
    });
}

void PlainTextEdit(benchmark::State& state)
{
    QPlainTextEdit edit;
    edit.setPlainText(noteText(state));
    run(state, "QPlainTextEdit", [&] { return peer(edit); });
}

void TextEdit(benchmark::State& state)
{
    QTextEdit edit;
    edit.setPlainText(noteText(state));
    run(state, "QTextEdit", [&] { return peer(edit); });
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (const auto& [name, function] : {std::pair{"Ours", &Ours}, std::pair{"QPlainTextEdit", &PlainTextEdit},
                                         std::pair{"QTextEdit", &TextEdit}}) {
        auto* benchmark = benchmark::RegisterBenchmark(name, function);
        for (int64_t index = 0; index < int64_t(std::size(Notes)); ++index)
            benchmark->Arg(index);
        benchmark->Iterations(1)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nkey press to paint, p95 in ms\n%14s %10s %15s %10s %12s %12s\n", "note", "ours", "QPlainTextEdit",
                "QTextEdit", "ours/plain", "ours/text");
    for (int64_t index = 0; index < int64_t(std::size(Notes)); ++index) {
        const auto at = [&](const char* name) {
            const auto found = results.find({name, index});
            return found == results.end() ? 0.0 : found->second;
        };
        const double ours = at("ours"), plain = at("QPlainTextEdit"), text = at("QTextEdit");
        std::printf("%14s %10.2f %15.2f %10.2f %12.2f %12.2f\n", Notes[index].name, ours, plain, text,
                    plain > 0 ? ours / plain : 0.0, text > 0 ? ours / text : 0.0);
    }
    return 0;
}
