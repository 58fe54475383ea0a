// The typing engine on large notes, each beside the plain QString work that gives the same text (the
// floor): Return on a list line at the end of a 1 MB note, Shift right over 10,000 lines (1 MB) on the
// engine's own string, a numbered list over 5,000 lines on an offscreen styled text view. For the view
// the same numbered text replacing the text in the view shows the share of restyling and mirroring.
#include "offscreen_main.h"
#include "TextView.h"
#include "Typewriter/Typewriter.h"
#include "demo/EditorLook.h"
#include "demo/TypingTextView.h"

#include "Stopwatch.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QStringList>


namespace {

// `count` lines of plain prose, each `width` units and a line feed.
QString lines(qsizetype count, qsizetype width)
{
    const QString words = QStringLiteral("plan the weekly review and draft the budget notes before the call ");
    QString text;
    text.reserve(count * (width + 1));
    for (qsizetype i = 0; i < count; ++i) {
        for (qsizetype column = 0; column < width; ++column)
            text += words[(i * 7 + column) % words.size()];
        text += u'\n';
    }
    return text;
}

// Each iteration types Return at the end of "- item"; the new line is removed again off the clock.
void ReturnOnListLine(benchmark::State& state)
{
    Typewriter typewriter;
    typewriter.setText(lines(10240, 99) + QStringLiteral("- item"));
    const qsizetype end = typewriter.text().size();
    for (auto _ : state) {
        TextRange caret{end, 0};
        state.SetIterationTime(seconds([&] { typewriter.handleChangeTextInRange(&caret, QStringLiteral("\n")); }));
        typewriter.replaceRange({end, caret.location - end}, {});
    }
}

void ReturnOnListLineFloor(benchmark::State& state)
{
    QString text = lines(10240, 99) + QStringLiteral("- item");
    const qsizetype end = text.size();
    for (auto _ : state) {
        state.SetIterationTime(seconds([&] {
            const qsizetype lineStart = text.lastIndexOf(u'\n', end - 1) + 1;
            text.insert(end, u'\n' + text.mid(lineStart, 2));
        }));
        text.truncate(end);
    }
}

void ShiftRight(benchmark::State& state)
{
    const QString original = lines(10000, 104);
    Typewriter typewriter;
    for (auto _ : state) {
        typewriter.setText(original);
        TextRange all{0, original.size()};
        state.SetIterationTime(seconds([&] { typewriter.handleAction(TypewriterActionShiftRight, &all); }));
    }
}

void ShiftRightFloor(benchmark::State& state)
{
    const QString original = lines(10000, 104);
    for (auto _ : state) {
        QString result;
        state.SetIterationTime(seconds([&] {
            result.reserve(original.size() + 10001);
            for (QStringView line : QStringView(original).split(u'\n')) {
                result += u'\t';
                result += line;
                result += u'\n';
            }
            result.chop(1);
        }));
        benchmark::DoNotOptimize(result);
    }
}

// A shown 1000×800 view in the editor's look.
struct StyledView {
    StyledView()
    {
        view.setTextStorage(&storage);
        applyEditorLook(storage, 0, 16, 0, &view);
        view.resize(1000, 800);
        view.show();
    }
    MarkdownTextStorage storage;
    TextView view;
};

// Alternately numbers the lines and removes the numbers: both are the same command.
void NumberedListOnView(benchmark::State& state)
{
    StyledView styled;
    TypingTextView typing(styled.view);
    typing.typewriter().setText(lines(5000, 60));
    QApplication::processEvents();
    for (auto _ : state) {
        styled.view.setSelectedRange({0, styled.storage.length()});
        state.SetIterationTime(seconds([&] { typing.runAction(TypewriterActionOrderedList); }));
    }
}

QString numbered(const QString& original)
{
    QString result;
    result.reserve(original.size() + 5000 * 7);
    qsizetype number = 0;
    for (QStringView line : QStringView(original).split(u'\n')) {
        if (!line.isEmpty())
            result += QString::number(++number) + QStringLiteral(". ");
        result += line;
        result += u'\n';
    }
    result.chop(1);
    return result;
}

void NumberedListFloor(benchmark::State& state)
{
    const QString original = lines(5000, 60);
    for (auto _ : state) {
        QString result;
        state.SetIterationTime(seconds([&] { result = numbered(original); }));
        benchmark::DoNotOptimize(result);
    }
}

// The view's own share: the same numbered text put into the same view as one replacement.
void NumberedTextIntoView(benchmark::State& state)
{
    StyledView styled;
    const QString texts[] = {lines(5000, 60), numbered(lines(5000, 60))};
    styled.storage.replaceCharacters({0, 0}, texts[0]);
    QApplication::processEvents();
    int next = 1;
    for (auto _ : state) {
        const TextRange all{0, styled.storage.length()};
        state.SetIterationTime(seconds([&] { styled.view.changeTextInRanges({all}, {texts[next]}); }));
        next = 1 - next;
    }
}

} // namespace

BENCHMARK(ReturnOnListLine)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ReturnOnListLineFloor)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ShiftRight)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(ShiftRightFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(NumberedListOnView)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(NumberedListFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(NumberedTextIntoView)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

int main(int argc, char** argv)
{
    return runOffscreen(argc, argv);
}
