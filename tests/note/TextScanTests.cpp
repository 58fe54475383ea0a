#include "Store/TextScans.h"
#include "files/UnicodeRegex.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace {

QString joinedByExpression(const QString& text)
{
    static const QRegularExpression breaks =
        UnicodeRegex::expression(QStringLiteral("\\s*\\n+\\s*"), UnicodeRegex::CaseInsensitive);
    return UnicodeRegex::replace(text, breaks, QStringLiteral("\n"));
}

qsizetype sentenceEndByExpression(const QString& line)
{
    static const QRegularExpression end =
        UnicodeRegex::expression(QStringLiteral("[\\.\\?](?=($|\\s))"), UnicodeRegex::AnchorsMatchLines);
    const QRegularExpressionMatch match = end.match(line);
    return match.hasMatch() ? match.capturedStart() : -1;
}

void expectAsTheExpressions(const QString& text)
{
    const QString escaped = text.toHtmlEscaped();
    const QString joined = TextScans::joinedLineBreaks(text);
    const QString expected = joinedByExpression(text);
    ASSERT_EQ(joined, expected) << qPrintable(escaped);
    ASSERT_EQ(joined.isNull(), expected.isNull()) << qPrintable(escaped);
    ASSERT_EQ(TextScans::sentenceEnd(text), sentenceEndByExpression(text)) << qPrintable(escaped);
}

} // namespace

TEST(NoteTextScans, SpaceIsTheExpressionsSpaceForEveryUnit)
{
    static const QRegularExpression space = UnicodeRegex::expression(QStringLiteral("^\\s$"));
    for (char32_t c = 0; c <= 0xFFFF; ++c) {
        const QString unit{QChar(char16_t(c))};
        ASSERT_EQ(TextScans::isExpressionSpace(char16_t(c)), space.match(unit).hasMatch()) << std::hex << uint32_t(c);
    }
}

TEST(NoteTextScans, LineBreaksAndSentenceEndsAsTheExpressions)
{
    const QStringList table = {
        QString(), u""_qs, u"\n"_qs, u" \n "_qs, u"a\nb"_qs, u"a \t\n\n \u00a0b"_qs, u"a  b"_qs, u"a\r\nb"_qs,
        u"a\u2028b"_qs, u"a \u2029\n\u180e b"_qs, u"a\u200b\nb"_qs, u"."_qs, u"a."_qs, u"a.b"_qs, u"a. b"_qs,
        u"1.2 is out?"_qs, u"why?\u3000x"_qs, u"end.\u2028"_qs, u"a.\u0085"_qs, u"a?\v"_qs, u"..."_qs,
        u"\U0001F600. \n x"_qs,
        // A lone surrogate: the expressions match nothing.
        u"a.\n b"_qs + QChar(0xD800), QString(QChar(0xDC00)) + u"? \n"_qs,
    };
    for (const QString& text : table)
        expectAsTheExpressions(text);

    const QString alphabet = u"a.? \n\r\t\u2028\u2029\u0085\v\f\u00a0\u180e\u200b"_qs + QChar(0xD83D) + QChar(0xDE00);
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        const QString text = TestSupport::randomString(random, alphabet, 15);
        expectAsTheExpressions(text);
    }
}
