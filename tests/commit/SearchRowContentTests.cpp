#include "Store/NoteSearchRow.h"
#include "files/UnicodeRegex.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Runs of white space and marks as one blank. The expression matches nothing
// in text with a lone surrogate, so those stand in for a private character
// while it runs.
QString withoutMarks(const QString& text)
{
    static const QRegularExpression marks =
        UnicodeRegex::expression(QStringLiteral("[\\s\\*\\_\"\\[\\]\\(\\)\\{\\}\\n]+"));
    QString masked = text;
    QList<qsizetype> lone;
    for (qsizetype i = 0; i < masked.size(); ++i) {
        const bool pair = i + 1 < masked.size() && masked[i].isHighSurrogate() && masked[i + 1].isLowSurrogate();
        if (pair)
            ++i;
        else if (masked[i].isSurrogate())
            lone.append(i);
    }
    QList<QChar> originals;
    for (const qsizetype i : lone) {
        originals.append(masked[i]);
        masked[i] = QChar(0xE000);
    }
    QString result = UnicodeRegex::replace(masked, marks, QStringLiteral(" "));
    for (qsizetype i = 0, k = 0; i < result.size(); ++i) {
        if (result[i] == QChar(0xE000))
            result[i] = originals[k++];
    }
    return result;
}

// The row's content as the expressions made it: heading marks, then runs of
// white space and marks, then rules.
QString expressionContent(const QString& text)
{
    using namespace UnicodeRegex;
    static const QRegularExpression headings =
        expression(QStringLiteral("^(|>[> ]*)\\#( |\\#+)"), AnchorsMatchLines);
    static const QRegularExpression rules = expression(QStringLiteral("[\\-\\=]{3,}"));
    const QString content = replace(text, headings, QStringLiteral("$1 "));
    return replace(withoutMarks(content), rules, QString());
}

void expectSameContent(const QString& text)
{
    const QString scanned = NoteSearchRow::cleanedContent(text);
    const QString expected = expressionContent(text);
    ASSERT_EQ(scanned, expected) << qPrintable(text.toHtmlEscaped());
    ASSERT_EQ(scanned.isNull(), expected.isNull()) << qPrintable(text.toHtmlEscaped());
}

} // namespace

TEST(NoteStoreSearchRow, ContentTakesHeadingsAndRulesOutAsTheExpressionsDo)
{
    const QString lines[] = {u"\n"_qs,     u"\r"_qs,     u"\r\n"_qs,    u"\v"_qs,
                             u"\f"_qs,     u"\u0085"_qs, u"\u2028"_qs, u"\u2029"_qs};
    QStringList texts = {
        QString(), u""_qs, u"#"_qs, u"# "_qs, u"##"_qs, u"#x"_qs, u"# x"_qs, u"### x"_qs, u"#### "_qs, u"#\t x"_qs,
        u" # x"_qs, u">#"_qs, u"># x"_qs, u">## x"_qs, u">#x"_qs, u"> > # x"_qs, u">>  ##"_qs, u"> >#x"_qs,
        u"a # x"_qs, u"x#"_qs, u"--"_qs, u"---"_qs, u"-=-="_qs, u"a----b"_qs, u"a - --- b"_qs, u"= == ==="_qs,
        u"#---"_qs, u"# ---"_qs, u"--- # x"_qs, u"\uFFFE# x\uFFFF ---"_qs, u"*[#]* (x) {y}"_qs,
        u"\u00e9# \U0001F600 ## \u00e9"_qs, u"---\U0001F600"_qs, u"a==\U0001F600==b"_qs, u"\U0001F600---"_qs,
        // A lone surrogate: such text keeps its headings and rules.
        QString(QChar(0xD800)) + u"\n# x ---"_qs, u"# x\n"_qs + QChar(0xDC00),
    };
    for (const QString& line : lines) {
        texts += line + u"# x"_qs;
        texts += u"a"_qs + line + u"## b"_qs + line + u">> # c"_qs + line;
        texts += u"#"_qs + line + u"#"_qs + line;
    }
    for (const QString& text : texts)
        expectSameContent(text);
}

TEST(NoteStoreSearchRow, ContentMatchesTheExpressionsOnRandomText)
{
    const QString alphabet = u"a# >-=\n\r\u2028\u2029\u0085\v\f\t*(\u00a0"_qs + QChar(0xD83D) + QChar(0xDE00);
    std::mt19937 random(11);
    for (int round = 0; round < 20000; ++round) {
        const QString text = TestSupport::randomString(random, alphabet, 23);
        expectSameContent(text);
    }
}
