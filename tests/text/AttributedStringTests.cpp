#include "text/AttributedString.h"

#include <gtest/gtest.h>

#include <QSet>

#include <random>
#include <vector>

namespace {

// The obvious model: one attribute set per UTF-16 unit.
struct NaiveText {
    QString text;
    std::vector<TextAttributes> attributes;

    void replace(TextRange range, const QString& string)
    {
        TextAttributes inherited;
        if (!string.isEmpty() && !text.isEmpty())
            inherited = attributes[size_t(range.length > 0 ? range.location : std::max<qsizetype>(range.location - 1, 0))];
        text.replace(range.location, range.length, string);
        attributes.erase(attributes.begin() + range.location, attributes.begin() + range.end());
        attributes.insert(attributes.begin() + range.location, size_t(string.size()), inherited);
    }
    template <typename Change>
    void change(TextRange range, Change change)
    {
        for (qsizetype i = range.location; i < range.end(); ++i)
            attributes[size_t(i)] = change(attributes[size_t(i)]);
    }
    TextRange longestRun(qsizetype index) const
    {
        qsizetype start = index, end = index + 1;
        while (start > 0 && attributes[size_t(start - 1)] == attributes[size_t(index)])
            --start;
        while (end < text.size() && attributes[size_t(end)] == attributes[size_t(index)])
            ++end;
        return {start, end - start};
    }
};

TextAttributes randomAttributes(std::mt19937& random)
{
    static const Font fonts[] = {{"Lato-Regular", 20, 0}, {"Lato-Bold", 20, 0}, {"Mono", 18.4, 9.5}};
    TextAttributes attributes;
    switch (random() % 5) {
    case 0:
        attributes.font = fonts[random() % 3];
        break;
    case 1:
        attributes.foregroundColor = Color::fromHex(random() % 2 ? 0x464646ff : 0x95a5a6ff);
        break;
    case 2:
        attributes.link = QStringLiteral("brindlewick://hashtag/%1").arg(random() % 3);
        attributes.toolTip = QStringLiteral("#%1").arg(random() % 3);
        break;
    case 3:
        attributes.underlineStyle = 1;
        attributes.strikethroughStyle = int64_t(random() % 2);
        break;
    default:
        attributes.paragraphStyle = ParagraphStyle{0, double(random() % 3) * 12, 28, 28, 1.26};
        break;
    }
    return attributes;
}

TextAttributes::Keys randomKeys(std::mt19937& random)
{
    return TextAttributes::Keys::fromInt(int(random() % 0x80));
}

TextRange randomRange(std::mt19937& random, qsizetype size, qsizetype maxLength)
{
    const qsizetype location = size == 0 ? 0 : qsizetype(random() % uint32_t(size + 1));
    const qsizetype length = qsizetype(random() % uint32_t(std::min(size - location, maxLength) + 1));
    return {location, length};
}

// The text agrees with the model at every unit, each run is a longest run of
// the model, and only the attribute sets still in use are kept.
void expectMatchesModel(const AttributedString& text, const NaiveText& naive, int step)
{
    ASSERT_EQ(text.string(), naive.text) << "step " << step;
    qsizetype covered = 0;
    text.enumerateAttributes({0, text.length()}, [&](const TextAttributes& attributes, TextRange range) {
        ASSERT_EQ(range.location, covered) << "step " << step;
        ASSERT_EQ(naive.longestRun(range.location), range) << "step " << step;
        for (qsizetype i = range.location; i < range.end(); ++i)
            ASSERT_EQ(attributes, naive.attributes[size_t(i)]) << "step " << step << " index " << i;
        covered = range.end();
    });
    ASSERT_EQ(covered, naive.text.size());
    QSet<TextAttributes> inUse;
    for (const TextAttributes& attributes : naive.attributes) {
        if (!attributes.isEmpty())
            inUse.insert(attributes);
    }
    ASSERT_EQ(text.attributeSetCount() - 1, inUse.size()) << "step " << step;
}

} // namespace

TEST(Text, RandomEditsAgreeWithPerUnitModel)
{
    std::mt19937 random(20261206);
    AttributedString text;
    NaiveText naive;
    const QString letters = QStringLiteral("ab \n#*é");

    for (int step = 0; step < 10000; ++step) {
        const qsizetype size = naive.text.size();
        const uint32_t kind = random() % 10;
        if (kind < 3 || size < 200) {
            // Grow until about 3,000 units, then keep the size steady.
            QString inserted;
            const int count = int(random() % (size < 3000 ? 12 : 4));
            for (int i = 0; i < count; ++i)
                inserted += letters[qsizetype(random() % uint32_t(letters.size()))];
            const TextRange range = randomRange(random, size, size < 3000 ? 3 : 12);
            text.replaceCharacters(range, inserted);
            naive.replace(range, inserted);
        } else if (kind < 5) {
            const TextRange range = randomRange(random, size, 40);
            const TextAttributes attributes = random() % 4 ? randomAttributes(random) : TextAttributes();
            text.setAttributes(attributes, range);
            naive.change(range, [&](const TextAttributes&) { return attributes; });
        } else if (kind < 8) {
            const TextRange range = randomRange(random, size, 20);
            const TextAttributes attributes = randomAttributes(random);
            text.addAttributes(attributes, range);
            naive.change(range, [&](const TextAttributes& old) { return old.merged(attributes); });
        } else {
            const TextRange range = randomRange(random, size, 30);
            const TextAttributes::Keys keys = randomKeys(random);
            text.removeAttributes(keys, range);
            naive.change(range, [&](const TextAttributes& old) { return old.without(keys); });
        }

        ASSERT_NO_FATAL_FAILURE(expectMatchesModel(text, naive, step));
        // Point queries at a few indexes.
        for (int probe = 0; probe < 4 && size > 0; ++probe) {
            const qsizetype index = qsizetype(random() % uint32_t(text.length()));
            TextRange effective;
            ASSERT_EQ(text.attributesAtIndex(index, &effective), naive.attributes[size_t(index)]);
            ASSERT_EQ(effective, naive.longestRun(index)) << "step " << step << " index " << index;
        }
    }
    EXPECT_GT(text.runCount(), 256) << "the test should span several chunks";
}

// Texts styled by different steps are equal when every unit ends with the same attributes.
TEST(Text, EqualTextsHaveTheSameUnitsAndAttributes)
{
    TextAttributes red;
    red.foregroundColor = Color::fromHex(0xff0000ff);
    TextAttributes blue;
    blue.foregroundColor = Color::fromHex(0x0000ffff);
    const auto styled = [&](const QString& string, const std::vector<std::pair<TextAttributes, TextRange>>& steps) {
        AttributedString text(string);
        for (const auto& [attributes, range] : steps)
            text.setAttributes(attributes, range);
        return text;
    };
    const AttributedString reference = styled(QStringLiteral("abcdef"), {{red, {0, 3}}});
    const struct {
        const char* name;
        AttributedString other;
        bool equal;
    } cases[] = {
        {"same steps", styled(QStringLiteral("abcdef"), {{red, {0, 3}}}), true},
        {"run in two steps", styled(QStringLiteral("abcdef"), {{red, {0, 1}}, {red, {1, 2}}}), true},
        {"painted over", styled(QStringLiteral("abcdef"), {{blue, {0, 6}}, {red, {0, 3}}, {{}, {3, 3}}}), true},
        {"one unit more styled", styled(QStringLiteral("abcdef"), {{red, {0, 4}}}), false},
        {"another colour", styled(QStringLiteral("abcdef"), {{blue, {0, 3}}}), false},
        {"another unit", styled(QStringLiteral("abcdeF"), {{red, {0, 3}}}), false},
        {"longer", styled(QStringLiteral("abcdefg"), {{red, {0, 3}}}), false},
        {"unstyled", AttributedString(QStringLiteral("abcdef")), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reference.isEqualToAttributedString(c.other), c.equal) << c.name;
        EXPECT_EQ(c.other.isEqualToAttributedString(reference), c.equal) << c.name;
    }
    EXPECT_TRUE(AttributedString().isEqualToAttributedString(AttributedString()));
}

TEST(Text, LongestEffectiveRangeLooksAtTheGivenKeysOnly)
{
    AttributedString text(QStringLiteral("0123456789"));
    TextAttributes red;
    red.foregroundColor = Color::fromHex(0xff0000ff);
    TextAttributes linked;
    linked.link = QStringLiteral("mailto:a@b.c");
    text.addAttributes(red, {2, 6});
    text.addAttributes(linked, {4, 2});

    TextRange run;
    text.attributesAtIndex(3, &run);
    EXPECT_EQ(run, (TextRange{2, 2}));
    EXPECT_EQ(text.longestEffectiveRange(TextAttributes::ForegroundColorKey, 5, {0, 10}), (TextRange{2, 6}));
    EXPECT_EQ(text.longestEffectiveRange(TextAttributes::ForegroundColorKey, 5, {3, 3}), (TextRange{3, 3}));
    EXPECT_EQ(text.longestEffectiveRange(TextAttributes::LinkKey, 0, {0, 10}), (TextRange{0, 4}));
}

TEST(Text, ReplacedCharactersTakeTheirNeighboursAttributes)
{
    TextAttributes bold;
    bold.font = Font{QStringLiteral("Lato-Bold"), 20, 0};
    AttributedString text(QStringLiteral("abc"), bold);
    text.setAttributes({}, {1, 2});

    text.replaceCharacters({0, 0}, QStringLiteral("<"));     // at the start: the first character's
    EXPECT_EQ(text.attributesAtIndex(0), bold);
    text.replaceCharacters({4, 0}, QStringLiteral(">"));     // at the end: the last character's
    EXPECT_TRUE(text.attributesAtIndex(4).isEmpty());
    text.replaceCharacters({2, 1}, QStringLiteral("BBB"));   // a replacement: the first replaced one's
    EXPECT_EQ(text.string(), QStringLiteral("<aBBBc>"));
    EXPECT_TRUE(text.attributesAtIndex(3).isEmpty());
    text.replaceCharacters({0, 7}, QString());
    EXPECT_EQ(text.length(), 0);
    EXPECT_EQ(text.runCount(), 0);
    EXPECT_EQ(text.attributeSetCount(), 1);
}

// A long note's text is handed over whole: it is shared, and later edits leave the giver's copy alone.
TEST(Text, AWholeNewTextIsSharedAndEditsLeaveTheGiversCopyAlone)
{
    struct Case {
        QString before;
        TextRange range;
    };
    const Case cases[] = {{QString(), {0, 0}}, {QStringLiteral("old text"), {0, 8}}, {QStringLiteral("old"), {0, 99}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before.toStdString());
        AttributedString text(c.before);
        const QString given = QStringLiteral("given\ntext");
        text.replaceCharacters(c.range, given);
        EXPECT_EQ(text.string().constData(), given.constData());
        EXPECT_EQ(text.runCount(), 1);
        text.replaceCharacters({5, 1}, QStringLiteral(" "));
        text.replaceCharacters({0, 0}, QStringLiteral("# "));
        EXPECT_EQ(text.string(), QStringLiteral("# given text"));
        EXPECT_EQ(given, QStringLiteral("given\ntext"));
    }
}

// An edit nearer the start moves the units before it rather than those after it, taking room at the
// start or giving it back. Copies of the text taken before keep what they had, and a replacement read
// out of the text itself is read before anything moves.
TEST(Text, EditsNearTheStartMoveTheUnitsBeforeThem)
{
    struct Case {
        const char* name;
        TextRange range;
        QString replacement;
    };
    const QString start = QStringLiteral("0123456789abcdefghij");
    const Case cases[] = {
        {"a unit typed near the start", {3, 0}, "x"},
        {"units deleted near the start", {2, 4}, ""},
        {"a longer replacement near the start", {1, 2}, "wxyz"},
        {"a shorter replacement near the start", {4, 5}, "q"},
        {"an insertion at the start", {0, 0}, "#"},
        {"a deletion at the start", {0, 3}, ""},
        {"an equal replacement near the start", {5, 2}, "yz"},
        {"a unit typed near the end", {17, 0}, "x"},
        {"units deleted near the end", {15, 4}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString expected = start;
        expected.replace(c.range.location, c.range.length, c.replacement);

        AttributedString text(start);
        text.replaceCharacters({10, 0}, QStringLiteral("-")); // its own buffer from here on
        text.replaceCharacters({10, 1}, QString());
        const QString copy = text.string();
        text.replaceCharacters(c.range, c.replacement);
        EXPECT_EQ(text.string(), expected);
        EXPECT_EQ(copy, start);
        EXPECT_EQ(text.runCount(), 1);

        // A hundred more at the same place and taken out again, one unit at a time.
        for (int i = 0; i < 100; ++i)
            text.replaceCharacters({c.range.location, 0}, QStringLiteral("%1").arg(i % 10));
        for (int i = 0; i < 100; ++i)
            text.replaceCharacters({c.range.location, 1}, QString());
        EXPECT_EQ(text.string(), expected);

        // The replacement's units are the text's own, not a copy of them.
        QString wanted(text.string().constData() + 1, 3);
        expected = QString(text.string().constData(), text.length());
        expected.replace(c.range.location, c.range.length, wanted);
        text.replaceCharacters(c.range, QString::fromRawData(text.string().constData() + 1, 3));
        EXPECT_EQ(text.string(), expected);
    }
}

TEST(Text, RangesOutsideTheTextAreClipped)
{
    AttributedString text(QStringLiteral("abc"));
    TextAttributes linked;
    linked.link = QStringLiteral("x");
    text.addAttributes(linked, {2, 100});
    text.replaceCharacters({5, 3}, QStringLiteral("d"));
    text.removeAttributes(TextAttributes::LinkKey, {-4, 3});
    EXPECT_EQ(text.string(), QStringLiteral("abcd"));
    EXPECT_EQ(text.attributesAtIndex(3).link, QStringLiteral("x"));
    TextRange effective{9, 9};
    EXPECT_TRUE(text.attributesAtIndex(10, &effective).isEmpty());
    EXPECT_EQ(effective, (TextRange{4, 0}));
}

TEST(Text, ParagraphRangeCoversWholeLinesWithTheirTerminators)
{
    const QString text = QStringLiteral("ab\r\ncd\ref\u2029gh\n\nij");
    //                                    0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15
    EXPECT_EQ(paragraphRangeForRange(text, {1, 0}), (TextRange{0, 4}));
    EXPECT_EQ(paragraphRangeForRange(text, {3, 0}), (TextRange{0, 4})) << "inside a CR LF";
    EXPECT_EQ(paragraphRangeForRange(text, {4, 0}), (TextRange{4, 3}));
    EXPECT_EQ(paragraphRangeForRange(text, {2, 3}), (TextRange{0, 7}));
    EXPECT_EQ(paragraphRangeForRange(text, {4, 3}), (TextRange{4, 3})) << "ends after a terminator";
    EXPECT_EQ(paragraphRangeForRange(text, {8, 1}), (TextRange{7, 3}));
    EXPECT_EQ(paragraphRangeForRange(text, {13, 0}), (TextRange{13, 1})) << "an empty line";
    EXPECT_EQ(paragraphRangeForRange(text, {16, 0}), (TextRange{14, 2})) << "the end of the text";
    EXPECT_EQ(paragraphRangeForRange(QString(), {0, 0}), (TextRange{0, 0}));
    EXPECT_EQ(paragraphRangeForRange(QStringLiteral("a\n"), {2, 0}), (TextRange{2, 0}));
    EXPECT_EQ(paragraphRangeForRange(text, {-3, 200}), (TextRange{0, 16}));
}

TEST(Text, AttributeRunsAgreeWithPerUnitModel)
{
    std::mt19937 random(20261207);
    AttributedString text;
    NaiveText naive;
    QString initial;
    for (int i = 0; i < 4000; ++i)
        initial += QChar(u'a' + char16_t(random() % 26));
    text.replaceCharacters({0, 0}, initial);
    naive.replace({0, 0}, initial);

    for (int step = 0; step < 300; ++step) {
        // Runs from the range's start, some alike side by side, some empty, the last often past the range.
        const TextRange range = randomRange(random, text.length(), step % 10 == 0 ? 4000 : 300);
        std::vector<AttributedString::AttributeRun> runs;
        qsizetype end = range.location;
        while (end < range.end() + 20) {
            end += qsizetype(random() % 12);
            const TextAttributes attributes = random() % 5 == 0 ? TextAttributes() : randomAttributes(random);
            runs.push_back({end, attributes});
            if (random() % 4 == 0)
                runs.push_back({end + qsizetype(random() % 5), attributes});
            end = runs.back().end;
        }
        text.setAttributeRuns(range, runs);
        qsizetype start = range.location;
        for (const AttributedString::AttributeRun& run : runs) {
            const qsizetype to = std::min(run.end, range.end());
            if (to > start)
                naive.change({start, to - start}, [&](const TextAttributes&) { return run.attributes; });
            start = std::max(start, to);
        }

        ASSERT_NO_FATAL_FAILURE(expectMatchesModel(text, naive, step));
    }
    EXPECT_GT(text.runCount(), 256) << "the test should span several chunks";
}

// A long note is kept in chunks once edited: its attributes still follow the edits, and the reads of
// a unit, a range and the lines around a range agree with the text before string() joins it.
TEST(Text, AttributesAndReadsFollowEditsOfALongText)
{
    struct Case {
        const char* name;
        qsizetype maxInsert;
        qsizetype maxRemove;
    };
    const Case cases[] = {
        {"typed into", 3, 2},
        {"pasted into and cut from", 9000, 9000},
    };
    const QString letters = QStringLiteral("ab \n\r#\u2029");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 random(20261208);
        QString initial;
        for (int i = 0; i < 70000; ++i)
            initial += letters[qsizetype(random() % uint32_t(letters.size()))];
        AttributedString text(initial);
        NaiveText naive;
        naive.replace({0, 0}, initial);
        for (int i = 0; i < 40; ++i) {
            const TextRange range = randomRange(random, naive.text.size(), 3000);
            const TextAttributes attributes = randomAttributes(random);
            text.setAttributes(attributes, range);
            naive.change(range, [&](const TextAttributes&) { return attributes; });
        }

        for (int step = 0; step < 120; ++step) {
            const TextRange range = randomRange(random, naive.text.size(), c.maxRemove);
            QString inserted;
            for (qsizetype i = qsizetype(random() % uint32_t(c.maxInsert + 1)); i > 0; --i)
                inserted += letters[qsizetype(random() % uint32_t(letters.size()))];
            text.replaceCharacters(range, inserted);
            naive.replace(range, inserted);

            ASSERT_EQ(text.length(), naive.text.size()) << "step " << step;
            for (int probe = 0; probe < 8; ++probe) {
                const qsizetype index = qsizetype(random() % uint32_t(naive.text.size()));
                TextRange effective;
                ASSERT_EQ(text.attributesAtIndex(index, &effective), naive.attributes[size_t(index)]);
                ASSERT_EQ(effective, naive.longestRun(index)) << "step " << step << " index " << index;
                ASSERT_EQ(text.characterAtIndex(index), naive.text[index]) << "step " << step;
                const TextRange read = randomRange(random, naive.text.size(), 10000);
                ASSERT_EQ(text.substring(read), naive.text.mid(read.location, read.length)) << "step " << step;
                ASSERT_EQ(text.paragraphRange(read), paragraphRangeForRange(naive.text, read)) << "step " << step;
            }
            if (step % 20 == 0) {
                ASSERT_NO_FATAL_FAILURE(expectMatchesModel(text, naive, step));
            }
        }
        ASSERT_NO_FATAL_FAILURE(expectMatchesModel(text, naive, -1));
    }
}

// Reads outside the text give nothing and are clipped, flat or in chunks.
TEST(Text, RangeReadsOutsideTheTextAreClipped)
{
    for (const qsizetype size : {qsizetype(10), qsizetype(100000)}) {
        SCOPED_TRACE(size);
        QString model(size, QChar(u'a'));
        AttributedString text(model);
        text.replaceCharacters({size / 2, 0}, QStringLiteral("\n"));
        model.insert(size / 2, u'\n');
        EXPECT_EQ(text.characterAtIndex(-1), QChar());
        EXPECT_EQ(text.characterAtIndex(size + 1), QChar());
        EXPECT_EQ(text.characterAtIndex(size), QChar(u'a'));
        EXPECT_EQ(text.substring({-5, 8}), model.left(3));
        EXPECT_EQ(text.substring({size - 2, 50}), model.right(3));
        EXPECT_EQ(text.substring({size + 5, 2}), QString());
        EXPECT_EQ(text.substring({3, -2}), QString());
        EXPECT_EQ(text.paragraphRange({-4, 2}), (TextRange{0, size / 2 + 1}));
        EXPECT_EQ(text.paragraphRange({size + 9, 3}), (TextRange{size / 2 + 1, size - size / 2}));
    }
}
