#include "NoteTestSupport.h"
#include "TestSupport.h"

#include "Markdown/InlineParser.h"
#include "Store/NoteSearchRow.h"
#include "files/UnicodeRegex.h"

#include <QSet>

#include <random>

namespace {

using NoteStoreTitle = NoteStoreTest;

struct Derived {
    QString title;
    QString summary;
};

Derived derive(const QString& text)
{
    Note note;
    note.setText(text);
    EXPECT_TRUE(note._reloadHeader());
    return {note.title(), note.summary()};
}

TEST_F(NoteStoreTitle, ExamplesOfTitleAndSummary)
{
    const QString longLine = QStringLiteral("Alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi "
                                            "omicron pi rho sigma tau upsilon phi chi psi omega");
    ASSERT_GT(longLine.size(), 100);
    const QString noSpaces(120, QLatin1Char('w'));
    // The title's cut after 51 units and the summary's at 300 both fall inside an emoji.
    const QString emoji = QStringLiteral("\U0001F600");
    const QString cutFirst = QString(50, QLatin1Char('a')) + emoji + QString(60, QLatin1Char('b'));
    const QString cutRest = QString(236, QLatin1Char('c')) + emoji + QStringLiteral("tail");
    const struct {
        QString text;
        QString title;
        QString summary;
    } cases[] = {
        {QStringLiteral("# Shopping list\nmilk\neggs"), QStringLiteral("Shopping list"), QStringLiteral("milk eggs")},
        {QStringLiteral("Call Bob. Then lunch"), QStringLiteral("Call Bob."), QStringLiteral("Then lunch")},
        {QStringLiteral("Version 1.2 is out"), QStringLiteral("Version 1.2 is out"), QString()},
        {QStringLiteral("Is it done? Not yet\nmore"), QStringLiteral("Is it done?"), QStringLiteral("Not yet more")},
        {longLine, longLine.left(longLine.left(50).lastIndexOf(QLatin1Char(' '))), longLine.mid(longLine.left(50).lastIndexOf(QLatin1Char(' ')) + 1)},
        {noSpaces, noSpaces.left(51), noSpaces.mid(51)},
        {QStringLiteral("- [x] done\nPlan\n- [ ] open"), QStringLiteral("Plan"), QStringLiteral("- open\n- done~")},
        {QStringLiteral("- [x] bought milk\n- [X] paid rent"), QStringLiteral("- bought milk~"),
         QStringLiteral("- paid rent~")},
        {QStringLiteral("\n\n#\n- \n  Title here\n\nbody line"), QStringLiteral("Title here"),
         QStringLiteral("body line")},
        {QStringLiteral("Use **bold** and ~~gone~~ words\n> quoted line"), QStringLiteral("Use bold and words"),
         QStringLiteral("quoted line")},
        {QStringLiteral("Say \u201Chello\u201D {++added++} {--dropped--}now{>>note<<}\nrest"),
         QStringLiteral("Say hello added now"), QStringLiteral("rest")},
        {QStringLiteral("Loose ++} and ==} marks\nrest"), QStringLiteral("Loose and marks"), QStringLiteral("rest")},
        {QStringLiteral("Set {a} and }b{ as is\nrest"), QStringLiteral("Set {a} and }b{ as is"), QStringLiteral("rest")},
        {QStringLiteral("{~~old~>new~~} title\n1. first\n2) second\n- third\nfourth"), QStringLiteral("new title"),
         QStringLiteral("1. first\n2) second\n- third fourth")},
        {QStringLiteral("Café 東京 plan notes\nПривет мир"), QStringLiteral("Café 東京 plan notes"),
         QStringLiteral("Привет мир")},
        {cutFirst + QLatin1Char('\n') + cutRest, QString(50, QLatin1Char('a')),
         emoji + QString(60, QLatin1Char('b')) + QLatin1Char(' ') + QString(236, QLatin1Char('c'))},
        {QString(), QString(), QString()},
    };
    for (const auto& c : cases) {
        const Derived d = derive(c.text);
        EXPECT_EQ(d.title, c.title) << qPrintable(c.text);
        EXPECT_EQ(d.summary, c.summary) << qPrintable(c.text);
        EXPECT_FALSE(d.summary.isNull()) << qPrintable(c.text);
    }
}

TEST_F(NoteStoreTitle, LongNotesReadOnlyTheirBeginning)
{
    QString text = QStringLiteral("Opening words. Then the rest\n");
    while (text.size() < 200000)
        text += QStringLiteral("A line of filler text with #tags and *emphasis*.\n");
    const Derived d = derive(text);
    EXPECT_EQ(d.title, QStringLiteral("Opening words."));
    EXPECT_TRUE(d.summary.startsWith(QStringLiteral("Then the rest A line of filler text with #tags and emphasis.")));
    EXPECT_LE(d.summary.size(), 300);
    EXPECT_EQ(d.summary, derive(text.left(20000)).summary);

    // Blank lines after the scan limit do not change what the limit cuts.
    const QString padded = QString(10010, QLatin1Char('z')) + QStringLiteral("\n   \n\n  ");
    EXPECT_EQ(derive(padded).title, derive(QString(10010, QLatin1Char('z'))).title);
}

// A comment mark at a line's end is cleaned out of that line alone: the title
// and summary are those of the text without it, wherever the marked lines
// fall beside blank ones and the scan limit.
TEST_F(NoteStoreTitle, CommentsAtLineEndsLeaveTheTitleAndSummaryAsTheyWere)
{
    const QString lines[] = {u""_qs,        u"   "_qs,      u"\t"_qs,         u"Words here. More"_qs,
                             u" Indented"_qs, u"- [x] done"_qs, QString(4000, u'w'), u"end?"_qs};
    std::mt19937 random(9);
    for (int round = 0; round < 600; ++round) {
        QString plain;
        QString commented;
        for (int i = 1 + int(random() % 9); i > 0; --i) {
            const QString& line = lines[random() % std::size(lines)];
            const QString lineEnd = i > 1 ? u"\n"_qs : QString();
            plain += line + lineEnd;
            commented += line + (random() % 3 == 0 ? u"{>>note<<}"_qs : QString()) + lineEnd;
        }
        const Derived expected = derive(plain);
        const Derived derived = derive(commented);
        ASSERT_EQ(derived.title, expected.title) << qPrintable(commented.left(200));
        ASSERT_EQ(derived.summary, expected.summary) << qPrintable(commented.left(200));
    }
}

// The summary of "Head." and the lines after it, as the whole rest of the
// text with its breaks replaced gives it.
QString summaryOfWholeRest(const QString& rest)
{
    const QRegularExpression breaks = UnicodeRegex::expression(
        QString::fromUtf8("\\s*\\n+\\s*(?!([\\-\\+\\*•‣⁃⁌⁍∙◦]|\\d+[\\.\\)]))"), UnicodeRegex::AnchorsMatchLines);
    QString summary = UnicodeRegex::replace(QStringLiteral("\n") + rest, breaks, QStringLiteral(" "));
    if (summary.size() > 300)
        summary.truncate(summary.at(300).isLowSurrogate() && summary.at(299).isHighSurrogate() ? 299 : 300);
    return summary.trimmed();
}

TEST_F(NoteStoreTitle, SummaryBreaksNearItsEndMatchTheWholeText)
{
    // Lines whose breaks, list marks and digit runs fall on every unit
    // around the summary's end as the filler before them grows.
    const struct {
        const char* name;
        QString line;
    } cases[] = {
        {"numbered", QStringLiteral("word 1234567890) and\n98765.")},
        {"digits before a letter", QStringLiteral("ab\n123456789x\n")},
        {"list marks", QString::fromUtf8("item\n\u2022next\n\u2023more\n\u2043dash\n\u2219dot\n")},
        {"short lines", QStringLiteral("a\nb\nc\n")},
        {"only digits", QStringLiteral("1234567\n")},
        {"only symbols", QStringLiteral("%&/\n")},
        {"wide spaces", QString::fromUtf8("wörd\u2003\n\u00A0\u2003next\u3000\n")},
        {"emoji", QStringLiteral("e\U0001F600\nf\U0001F600g\n")},
        {"one long line", QStringLiteral("letters")},
    };
    for (const auto& c : cases) {
        for (int filler = 0; filler < 40; ++filler) {
            QString rest = QString(filler, QLatin1Char('x'));
            while (rest.size() < 1200)
                rest += c.line;
            // Whole lines only: a line cut short can turn into a mark of its own.
            for (const qsizetype size : {qsizetype(150), qsizetype(310), rest.size()}) {
                const QString part =
                    size < rest.size() ? rest.left(rest.lastIndexOf(QLatin1Char('\n'), size) + 1) : rest;
                const Derived d = derive(QStringLiteral("Head.\n") + part);
                ASSERT_EQ(d.title, QStringLiteral("Head.")) << c.name;
                EXPECT_EQ(d.summary, summaryOfWholeRest(part)) << c.name << " filler " << filler << " size " << size;
            }
        }
    }
}

// A completed item goes to the summary's end when the summary ends after
// the lines before it, and not when they already fill it: the item's place
// moves across that end, one line at a time, for lines of letters, of digits
// and letters, and of single letters.
TEST_F(NoteStoreTitle, CompletedItemsAfterTheSummaryEndAreLeftOut)
{
    for (const QString& line : {QStringLiteral("abcdefghij"), QStringLiteral("a1 b2 c3 d4 e5"), QStringLiteral("x")}) {
        for (int lines = 1; lines < 320; lines += lines < 20 ? 1 : 3) {
            QStringList rest;
            for (int i = 0; i < lines; ++i)
                rest.append(line);
            const Derived d = derive(QStringLiteral("Head.\n") + rest.join(QLatin1Char('\n')) + QStringLiteral("\n- [x] done"));
            ASSERT_EQ(d.title, QStringLiteral("Head.")) << qPrintable(line) << " " << lines;
            EXPECT_EQ(d.summary, summaryOfWholeRest(rest.join(QLatin1Char('\n')) + QStringLiteral("\n- done~")))
                << qPrintable(line) << " " << lines;
        }
    }
}

TEST_F(NoteStoreTitle, ALongFirstLineDecidesTheTitleWhateverFollows)
{
    QString words;
    for (int i = 0; i < 100; ++i)
        words += QStringLiteral("abcd ");
    const QString shortened = QStringLiteral("Hi. abcd abcd abcd abcd abcd abcd abcd abcd abcd");
    QString rest;
    while (rest.size() < 3000)
        rest += QStringLiteral("\nmore words on a later line.");
    const struct {
        QString firstLine;
        QString title;
    } cases[] = {
        // A to-do mark far along the line wins over the sentence's end before it.
        {QStringLiteral("Hi. ") + words + QStringLiteral("~ end"), shortened},
        {QStringLiteral("Hi. ") + words + QStringLiteral("end."), QStringLiteral("Hi.")},
        {QStringLiteral("Hi ") + words + QStringLiteral("end?"),
         QStringLiteral("Hi abcd abcd abcd abcd abcd abcd abcd abcd abcd")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(derive(c.firstLine + rest).title, c.title) << qPrintable(c.firstLine.right(10));
        EXPECT_EQ(derive(c.firstLine + rest).summary, derive(c.firstLine + rest.left(1000)).summary);
    }
}

TEST_F(NoteStoreTitle, HashtagsAndMentionsInOrderOfFirstSpelling)
{
    QStringList hashtags;
    QStringList mentions;
    Note::fillHashtags(&hashtags, &mentions, QStringLiteral("#Work #work #WORK"), true);
    EXPECT_EQ(hashtags, QStringList{"Work"});

    hashtags.clear();
    Note::fillHashtags(&hashtags, &mentions, QStringLiteral("#Work #work #WORK"), false);
    EXPECT_EQ(hashtags, QStringList{"WORK"});

    hashtags.clear();
    Note::fillHashtags(&hashtags, &mentions,
                       QStringLiteral("Plan #home and @Ann\n- item #Café @ann @BOB\n#home again #東京"), true);
    EXPECT_EQ(hashtags, (QStringList{"home", "Café", "東京"}));
    EXPECT_EQ(mentions, (QStringList{"Ann", "BOB"}));

    QStringList untouched{QStringLiteral("x")};
    Note::fillHashtags(&untouched, &mentions, QString(), true);
    EXPECT_EQ(untouched, QStringList{"x"});
}

// The first spelling of each tag of the kind, every line of the text parsed.
QStringList tagsOfEveryLine(const QString& text, InlineElement kind)
{
    QStringList tags;
    QSet<QString> seen;
    InlineParser parser;
    parser.enumerateParagraph(text, {0, text.size()}, [&](const InlineRange& paragraph, bool*) {
        parser.parseBlockAndInline(text, paragraph, [&](const InlineRange& r, InlineElement element) {
            const QString tag = text.mid(r.location + 1, r.length - 1);
            if (element == kind && !seen.contains(tag.toLower())) {
                seen.insert(tag.toLower());
                tags.append(tag);
            }
        });
    });
    return tags;
}

TEST_F(NoteStoreTitle, TagsAreThoseOfEveryLineWhateverEndsTheLines)
{
    const QString alphabet = QStringLiteral("aB# @\n\r\u2028\u2029`!&_*");
    std::mt19937 random(3);
    for (int round = 0; round < 4000; ++round) {
        const QString text = TestSupport::randomString(random, alphabet, 23);
        QStringList hashtags;
        QStringList mentions;
        Note::fillHashtags(&hashtags, &mentions, text, true);
        ASSERT_EQ(hashtags, tagsOfEveryLine(text, InlineElementHashtag)) << qPrintable(text.toHtmlEscaped());
        ASSERT_EQ(mentions, tagsOfEveryLine(text, InlineElementMention)) << qPrintable(text.toHtmlEscaped());
    }
}

TEST_F(NoteStoreTitle, StrongTagsAreAllCapitals)
{
    for (const char* strong : {"TODO", "A1", "ÉTÉ", "ПЛАН"})
        EXPECT_TRUE(Note::isStrongTag(QString::fromUtf8(strong))) << strong;
    for (const char* weak : {"Todo", "todo", "2024", "東京", ""})
        EXPECT_FALSE(Note::isStrongTag(QString::fromUtf8(weak))) << weak;
}

// What a note makes of its text, as a commit reads it.
QStringList madeOf(Note& note)
{
    EXPECT_TRUE(note._reloadHeader());
    const Note::TagLinks tags = note.tagLinks();
    const NoteSearchRow row = note.searchRow(tags);
    return {note.title(), note.summary(), tags.hashtags.join(' '), tags.mentions.join(' '),
            tags.linkedHashtags.join(' '), tags.linkedMentions.join(' '), row.title, row.content, row.hashtag,
            row.mention};
}

// Parsed ahead, a note gives what it gives parsed at the commit; once its text
// or storage changed, what the later ones give.
TEST_F(NoteStoreTitle, AParseAheadStandsOnlyForTheTextAndStorageItWasMadeOf)
{
    const QString plan = QStringLiteral("# Plan\nThe *week* ahead #Work #TODO @ann\n- [x] done");
    const QString trip = QStringLiteral("Trip\n**Bags** and #Travel @bob #PACK");
    const struct {
        QString parsed;
        int parsedIn;
        QString text;
        int storage;
    } cases[] = {
        {plan, NoteStorageInbox, plan, NoteStorageInbox},
        {plan, NoteStorageArchive, plan, NoteStorageArchive},
        {plan, NoteStorageInbox, trip, NoteStorageInbox},
        {plan, NoteStorageInbox, plan, NoteStorageArchive},
        {plan, NoteStorageArchive, plan + QStringLiteral(" "), NoteStorageArchive},
    };
    for (const auto& c : cases) {
        Note ahead(QStringLiteral("Plan.txt"), c.parsedIn);
        ahead.setText(c.parsed);
        ahead.parseAhead();
        ahead.setText(c.text);
        ahead.setStorage(c.storage);
        Note atCommit(QStringLiteral("Plan.txt"), c.storage);
        atCommit.setText(c.text);
        EXPECT_EQ(madeOf(ahead), madeOf(atCommit)) << qPrintable(c.text) << " " << c.storage;
    }
}

} // namespace
