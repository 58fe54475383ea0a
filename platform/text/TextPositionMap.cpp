#include "text/TextPositionMap.h"

#include <QHash>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace {

// Line comparisons the edit script may take; a rewrite of a long text costs no more than this.
constexpr qsizetype WorkBudget = 4'000'000;
// Its memory grows with the square of the edits.
constexpr qsizetype MostEdits = 1000;

// The lines of a span, each with its terminator: line i is [starts[i], starts[i + 1]).
struct Lines {
    Lines(const QString& text, TextRange span)
    {
        for (qsizetype i = span.location; i < span.end();) {
            starts.push_back(i);
            while (i < span.end() && !isParagraphEnd(text[i]))
                ++i;
            if (i < span.end())
                ++i;
        }
        starts.push_back(span.end());
        for (size_t i = 0; i + 1 < starts.size(); ++i)
            hashes.push_back(qHash(line(text, qsizetype(i))));
    }
    qsizetype count() const { return qsizetype(hashes.size()); }
    QStringView line(const QString& text, qsizetype i) const
    {
        return QStringView(text).mid(starts[size_t(i)], starts[size_t(i) + 1] - starts[size_t(i)]);
    }

    std::vector<qsizetype> starts;
    std::vector<size_t> hashes;
};

using LinePairs = std::vector<std::pair<qsizetype, qsizetype>>;

// The lines a shortest edit script from n lines to m lines keeps, as (old, new) pairs in order; none
// when it takes more than `most` edits. The greedy forward search, then a walk back through the
// furthest points each round reached.
template <typename Equal>
std::optional<LinePairs> keptLines(qsizetype n, qsizetype m, Equal equal, qsizetype most)
{
    const qsizetype offset = most + 1;
    std::vector<qsizetype> furthest(size_t(2 * offset + 1), 0);
    std::vector<std::vector<qsizetype>> rounds; // round d: furthest[-d .. d] as it began
    const auto chooseDown = [](qsizetype k, qsizetype d, const auto& at) {
        return k == -d || (k != d && at(k - 1) < at(k + 1));
    };
    for (qsizetype d = 0; d <= most; ++d) {
        rounds.emplace_back(furthest.begin() + (offset - d), furthest.begin() + (offset + d + 1));
        const auto at = [&](qsizetype k) { return furthest[size_t(offset + k)]; };
        for (qsizetype k = -d; k <= d; k += 2) {
            qsizetype x = chooseDown(k, d, at) ? at(k + 1) : at(k - 1) + 1;
            qsizetype y = x - k;
            while (x < n && y < m && equal(x, y)) {
                ++x;
                ++y;
            }
            furthest[size_t(offset + k)] = x;
            if (x < n || y < m)
                continue;
            LinePairs kept;
            for (qsizetype back = d; back > 0; --back) {
                const std::vector<qsizetype>& was = rounds[size_t(back)];
                const auto wasAt = [&](qsizetype j) { return was[size_t(j + back)]; };
                const qsizetype diagonal = x - y;
                const qsizetype from = chooseDown(diagonal, back, wasAt) ? diagonal + 1 : diagonal - 1;
                const qsizetype fromX = wasAt(from);
                for (; x > fromX && y > fromX - from; --x, --y)
                    kept.emplace_back(x - 1, y - 1);
                x = fromX;
                y = fromX - from;
            }
            for (; x > 0 && y > 0; --x, --y)
                kept.emplace_back(x - 1, y - 1);
            std::reverse(kept.begin(), kept.end());
            return kept;
        }
    }
    return std::nullopt;
}

} // namespace

TextPositionMap::TextPositionMap(const QString& before, const QString& after)
{
    const qsizetype shorter = std::min(before.size(), after.size());
    qsizetype head = 0;
    while (head < shorter && before[head] == after[head])
        ++head;
    if (head == before.size() && head == after.size())
        return;
    qsizetype tail = 0;
    while (tail < shorter - head && before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    // Whole lines in common at either end stay out of the comparison: the lines start where a
    // terminator inside the common part ends.
    qsizetype lineHead = head;
    while (lineHead > 0 && !isParagraphEnd(before[lineHead - 1]))
        --lineHead;
    qsizetype lineTail = std::max<qsizetype>(tail - 1, 0);
    while (lineTail > 0 && !isParagraphEnd(before[before.size() - lineTail - 1]))
        --lineTail;
    const TextRange inBefore{lineHead, before.size() - lineTail - lineHead};
    const TextRange inAfter{lineHead, after.size() - lineTail - lineHead};
    if (!addLineChanges(before, after, inBefore, inAfter))
        addChange(before, after, inBefore, inAfter);
}

bool TextPositionMap::addLineChanges(const QString& before, const QString& after, TextRange inBefore,
                                     TextRange inAfter)
{
    const Lines old(before, inBefore);
    const Lines now(after, inAfter);
    const qsizetype most = std::min(MostEdits, WorkBudget / std::max<qsizetype>(1, old.count() + now.count()));
    const auto equal = [&](qsizetype i, qsizetype j) {
        return old.hashes[size_t(i)] == now.hashes[size_t(j)] && old.line(before, i) == now.line(after, j);
    };
    const std::optional<LinePairs> kept = keptLines(old.count(), now.count(), equal, most);
    if (!kept)
        return false;
    qsizetype i = 0;
    qsizetype j = 0;
    const auto changeUpTo = [&](qsizetype toI, qsizetype toJ) {
        const qsizetype b = old.starts[size_t(i)];
        const qsizetype a = now.starts[size_t(j)];
        addChange(before, after, {b, old.starts[size_t(toI)] - b}, {a, now.starts[size_t(toJ)] - a});
    };
    for (const auto& [keptI, keptJ] : *kept) {
        changeUpTo(keptI, keptJ);
        i = keptI + 1;
        j = keptJ + 1;
    }
    changeUpTo(old.count(), now.count());
    return true;
}

void TextPositionMap::addChange(const QString& before, const QString& after, TextRange inBefore, TextRange inAfter)
{
    const qsizetype shorter = std::min(inBefore.length, inAfter.length);
    qsizetype head = 0;
    while (head < shorter && before[inBefore.location + head] == after[inAfter.location + head])
        ++head;
    qsizetype tail = 0;
    while (tail < shorter - head && before[inBefore.end() - 1 - tail] == after[inAfter.end() - 1 - tail])
        ++tail;
    if (head + tail == inBefore.length && head + tail == inAfter.length)
        return;
    changes_.append(Change{{inBefore.location + head, inBefore.length - head - tail},
                     {inAfter.location + head, inAfter.length - head - tail}});
}

qsizetype TextPositionMap::map(qsizetype position) const
{
    qsizetype shift = 0;
    for (const Change& change : changes_) {
        if (position <= change.before.location)
            break;
        if (position >= change.before.end()) {
            shift = change.after.end() - change.before.end();
            continue;
        }
        return change.after.location + std::min(position - change.before.location, change.after.length);
    }
    return position + shift;
}

TextRange TextPositionMap::map(TextRange range) const
{
    const qsizetype start = map(range.location);
    return {start, std::max(map(range.end()), start) - start};
}

TextRange TextPositionMap::changedBefore() const
{
    if (changes_.isEmpty())
        return {};
    return {changes_.first().before.location, changes_.last().before.end() - changes_.first().before.location};
}

TextRange TextPositionMap::changedAfter() const
{
    if (changes_.isEmpty())
        return {};
    return {changes_.first().after.location, changes_.last().after.end() - changes_.first().after.location};
}
