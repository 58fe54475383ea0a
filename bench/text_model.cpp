// The attributed text model on a 1 MB note with about 200,000 attribute runs:
// building it, its memory, a line restyle, single-unit edits (against the same
// edits on a plain QString) and a full walk.
#include "text/TextStorage.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr qsizetype NoteSize = 1 << 20;
constexpr qsizetype LineLength = 64;

// Resident memory in bytes, from /proc.
double residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * 4096;
}

std::vector<TextAttributes> styles()
{
    std::vector<TextAttributes> result;
    const char* fonts[] = {"AvenirNext-Regular", "Avenir-Heavy", "Avenir-Oblique", "KT9VR-Menlo-Avenir"};
    for (int f = 0; f < 4; ++f) {
        for (uint32_t color : {0x464646ffu, 0x95a5a6ffu, 0x12b0ccffu}) {
            TextAttributes attributes;
            attributes.font = Font{fonts[f], 20, f == 3 ? 11.0 : 0.0};
            attributes.foregroundColor = Color::fromHex(color);
            attributes.paragraphStyle = ParagraphStyle{0, 0, 26, 26, 1.26};
            result.push_back(attributes);
        }
    }
    return result;
}

// 1 MB of 64-unit lines, every 5 units a run of another style.
void fill(TextStorage& storage)
{
    QString text(NoteSize, u'a');
    for (qsizetype i = LineLength - 1; i < NoteSize; i += LineLength)
        text[i] = u'\n';
    storage.replaceCharacters({0, 0}, text);
    const std::vector<TextAttributes> all = styles();
    storage.beginEditing();
    for (qsizetype at = 0, k = 0; at < NoteSize; at += 5, ++k)
        storage.setAttributes(all[size_t(k) % all.size()], {at, 5});
    storage.endEditing();
}

TextStorage& note()
{
    static TextStorage* storage = [] {
        auto* created = new TextStorage;
        fill(*created);
        return created;
    }();
    return *storage;
}

void BuildNote(benchmark::State& state)
{
    double memory = 0;
    qsizetype runs = 0;
    for (auto _ : state) {
        const double before = residentBytes();
        TextStorage storage;
        fill(storage);
        memory = residentBytes() - before;
        runs = storage.attributedString().runCount();
    }
    state.counters["runs"] = double(runs);
    state.counters["resident_MB"] = memory / (1 << 20);
}
BENCHMARK(BuildNote)->Unit(benchmark::kMillisecond)->Iterations(3);

// What a styling storage does to one line after a keystroke: clear six
// attributes, set the base style, then style a dozen elements.
void RestyleLine(benchmark::State& state)
{
    TextStorage& storage = note();
    const std::vector<TextAttributes> all = styles();
    std::mt19937 random(7);
    const TextAttributes::Keys cleared = TextAttributes::FontKey | TextAttributes::ForegroundColorKey
        | TextAttributes::LinkKey | TextAttributes::UnderlineStyleKey | TextAttributes::StrikethroughStyleKey
        | TextAttributes::ToolTipKey;
    for (auto _ : state) {
        const qsizetype line = qsizetype(random() % uint32_t(NoteSize / LineLength)) * LineLength;
        storage.beginEditing();
        storage.removeAttributes(cleared, {line, LineLength});
        storage.addAttributes(all[0], {line, LineLength});
        for (qsizetype at = line; at < line + LineLength - 5; at += 5)
            storage.addAttributes(all[size_t(at / 5) % all.size()], {at, 5});
        storage.endEditing();
    }
}
BENCHMARK(RestyleLine)->Unit(benchmark::kMicrosecond);

void InsertAndDeleteUnit(benchmark::State& state)
{
    TextStorage& storage = note();
    std::mt19937 random(11);
    for (auto _ : state) {
        const qsizetype at = qsizetype(random() % uint32_t(NoteSize));
        storage.replaceCharacters({at, 0}, QStringLiteral("x"));
        storage.replaceCharacters({at, 1}, QString());
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(InsertAndDeleteUnit)->Unit(benchmark::kMicrosecond);

// The reference: the same edits on the characters alone, in a plain QString.
void InsertAndDeleteUnitInQString(benchmark::State& state)
{
    QString text = note().string();
    std::mt19937 random(11);
    for (auto _ : state) {
        const qsizetype at = qsizetype(random() % uint32_t(NoteSize));
        text.insert(at, u'x');
        text.remove(at, 1);
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(InsertAndDeleteUnitInQString)->Unit(benchmark::kMicrosecond);

void AttributesAtIndex(benchmark::State& state)
{
    TextStorage& storage = note();
    std::mt19937 random(13);
    for (auto _ : state) {
        TextRange range;
        benchmark::DoNotOptimize(&storage.attributesAtIndex(qsizetype(random() % uint32_t(NoteSize)), &range));
    }
}
BENCHMARK(AttributesAtIndex);

void WalkAllRuns(benchmark::State& state)
{
    const AttributedString& text = note().attributedString();
    for (auto _ : state) {
        qsizetype count = 0;
        text.enumerateAttributes({0, text.length()}, [&](const TextAttributes&, TextRange) { ++count; });
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(WalkAllRuns)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
