#include "text/ChunkedText.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Words, spaces and every kind of line end, CR LF often, so that chunk borders fall between a CR
// and its LF; now and then a line far longer than a chunk.
QString randomText(std::mt19937& random, qsizetype size)
{
    static const QString pieces[] = {QStringLiteral("word"), QStringLiteral(" "), QStringLiteral("\r\n"),
                                     QStringLiteral("\n"),    QStringLiteral("\r"), QStringLiteral("\u2029"),
                                     QStringLiteral("é#"),    QStringLiteral("\r\n\r\n")};
    QString text;
    while (text.size() < size) {
        if (random() % 400 == 0)
            text += QString(qsizetype(random() % 20000), QChar(u'x'));
        else
            text += pieces[random() % std::size(pieces)];
    }
    text.truncate(size);
    return text;
}

TextRange randomRange(std::mt19937& random, qsizetype size, qsizetype maxLength)
{
    const qsizetype location = qsizetype(random() % uint32_t(size + 1));
    return {location, qsizetype(random() % uint32_t(std::min(size - location, maxLength) + 1))};
}

// Reads of units, ranges and lines all agree with the model without joining the text first.
void expectReadsAgree(const ChunkedText& text, const QString& model, std::mt19937& random, int step)
{
    ASSERT_EQ(text.size(), model.size()) << "step " << step;
    for (int probe = 0; probe < 20; ++probe) {
        const qsizetype index = qsizetype(random() % uint32_t(model.size() + 2)) - 1;
        ASSERT_EQ(text.at(index), index >= 0 && index < model.size() ? model[index] : QChar())
            << "step " << step << " index " << index;
        const TextRange range = randomRange(random, model.size(), probe % 4 == 0 ? 20000 : 300);
        ASSERT_EQ(text.mid(range), model.mid(range.location, range.length)) << "step " << step;
        const TextRange lines{range.location - qsizetype(random() % 3), range.length + qsizetype(random() % 3)};
        ASSERT_EQ(text.paragraphRange(lines), paragraphRangeForRange(model, lines))
            << "step " << step << " at " << lines.location << "+" << lines.length;
    }
}

} // namespace

TEST(Text, ChunkedTextAgreesWithAFlatModelUnderRandomEdits)
{
    struct Case {
        const char* name;
        qsizetype size;
        qsizetype maxInsert;
        qsizetype maxRemove;
        bool chunked; // the edits must have cut it into chunks
    };
    const Case cases[] = {
        {"a short note, typed into", 3000, 3, 3, false},
        {"a long note, typed into", 200000, 3, 3, true},
        {"a long note, pasted into and cut from", 150000, 12000, 12000, true},
        {"a long note cut down to almost nothing", 70000, 2, 30000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 random(uint32_t(c.size));
        QString model = randomText(random, c.size);
        ChunkedText text(model);
        for (int step = 0; step < 400; ++step) {
            const TextRange range = randomRange(random, model.size(), c.maxRemove);
            const QString inserted = randomText(random, qsizetype(random() % uint32_t(c.maxInsert + 1)));
            if (range.location == 0 && range.length == model.size())
                continue; // a whole new text: another test's
            text.replace(range, inserted);
            model.replace(range.location, range.length, inserted);
            ASSERT_NO_FATAL_FAILURE(expectReadsAgree(text, model, random, step));
            if (step % 50 == 0) {
                ASSERT_EQ(text.string(), model) << "step " << step;
                // Again, now that the joined text answers.
                ASSERT_NO_FATAL_FAILURE(expectReadsAgree(text, model, random, step));
            }
        }
        EXPECT_EQ(text.chunked(), c.chunked);
        // Every unit, and the lines at every line end and then some, across every chunk border.
        for (qsizetype i = 0; i <= model.size(); ++i) {
            ASSERT_EQ(text.at(i), i < model.size() ? model[i] : QChar()) << i;
            const auto lineEnd = [&](qsizetype at) {
                const QChar c = at >= 0 && at < model.size() ? model[at] : QChar();
                return c == u'\n' || c == u'\r' || c == QChar(0x2029);
            };
            if (i % 61 != 0 && !lineEnd(i) && !lineEnd(i - 1))
                continue;
            ASSERT_EQ(text.paragraphRange({i, 0}), paragraphRangeForRange(model, {i, 0})) << i;
            ASSERT_EQ(text.paragraphRange({i, 2}), paragraphRangeForRange(model, {i, 2})) << i;
        }
        for (qsizetype i = 0; i < model.size(); i += 997)
            ASSERT_EQ(text.mid({i, std::min<qsizetype>(997, model.size() - i)}), model.mid(i, 997)) << i;
        EXPECT_EQ(text.string(), model);
    }
}

// What string() handed out before an edit: a copy keeps the old text, a reference is emptied when
// the text is in chunks (never left pointing at freed units), and a replacement read out of the text
// itself is read before anything moves.
TEST(Text, ChunkedTextKeepsWhatStringHandedOutSafeAcrossEdits)
{
    struct Case {
        const char* name;
        qsizetype size;
        TextRange range;
        qsizetype from; // where the replacement is read, out of string() itself
        qsizetype count;
    };
    const Case cases[] = {
        {"short: typed near the start", 40, {3, 0}, 10, 1},
        {"short: the whole text by a piece of itself", 40, {0, 40}, 5, 20},
        {"long: typed in the middle", 100000, {50000, 0}, 10, 1},
        {"long: a piece of itself pasted over another", 100000, {90000, 9000}, 1000, 12000},
        {"long: the whole text by a piece of itself", 100000, {0, 100000}, 5, 70000},
        {"long: cut across many chunks", 100000, {10, 80000}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 random(7);
        const QString start = randomText(random, c.size);
        ChunkedText text(start);
        text.replace({c.size / 2, 1}, QStringLiteral("-")); // cut into chunks if it is long
        QString model = start;
        model.replace(c.size / 2, 1, QStringLiteral("-"));
        const bool chunked = text.chunked();

        const QString copy = text.string();
        const QString& held = text.string();
        const QString replacement = model.mid(c.from, c.count);
        text.replace(c.range, QString::fromRawData(text.string().constData() + c.from, c.count));
        model.replace(c.range.location, c.range.length, replacement);

        EXPECT_EQ(copy, QString(start).replace(c.size / 2, 1, QStringLiteral("-")));
        if (chunked && text.chunked())
            EXPECT_TRUE(held.isEmpty());
        else
            EXPECT_EQ(held, model);
        EXPECT_EQ(text.mid({0, text.size()}), model);
        EXPECT_EQ(text.string(), model);
    }
}

// A whole text replaced by a piece of itself, read as raw units out of string() while nothing else
// holds that buffer: the piece is copied, not kept pointing into the buffer it replaces.
TEST(Text, ChunkedTextTakesAWholeTextReadOutOfItself)
{
    for (const qsizetype size : {qsizetype(40), qsizetype(100000)}) {
        SCOPED_TRACE(size);
        std::mt19937 random(11);
        ChunkedText text(randomText(random, size));
        text.replace({size / 2, 1}, QStringLiteral("-")); // its own buffer (or chunks) from here on
        const QString expected = text.string().mid(5, size / 2);
        text.replace({0, size}, QString::fromRawData(text.string().constData() + 5, size / 2));
        EXPECT_FALSE(text.chunked());
        EXPECT_EQ(text.string(), expected);
        text.replace({1, 0}, QStringLiteral("+"));
        EXPECT_EQ(text.string(), QString(expected).insert(1, u'+'));
    }
}

// The text it holds handed over whole again (a note shown again, the joined text set back) stays
// shared: not a second copy of the note.
TEST(Text, ChunkedTextSharesAWholeTextHandedOverAgain)
{
    for (const qsizetype size : {qsizetype(40), qsizetype(100000)}) {
        SCOPED_TRACE(size);
        std::mt19937 random(13);
        const QString note = randomText(random, size);
        ChunkedText text(note);
        text.replace({0, size}, note);
        EXPECT_EQ(text.string().constData(), note.constData());

        text.replace({1, 0}, QStringLiteral("+")); // in chunks when long
        const QString edited = text.string();
        text.replace({0, text.size()}, edited);
        EXPECT_FALSE(text.chunked());
        EXPECT_EQ(text.string().constData(), edited.constData());
        EXPECT_EQ(text.string(), QString(note).insert(1, u'+'));
    }
}
