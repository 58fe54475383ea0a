#include "Search/Score.h"

#include <gtest/gtest.h>

#include <QList>
#include <QString>

#include <cmath>
#include <limits>
#include <random>

using Score::scoreAgainst;

namespace {

constexpr int Divide = ScoreOptionDivideByStringLength;
constexpr int IntegerRatio = ScoreOptionIntegerLengthRatio;
constexpr double StartBonus = 0.15000000596046448;

QString utf16(std::initializer_list<char16_t> units)
{
    return QString(reinterpret_cast<const QChar*>(units.begin()), qsizetype(units.size()));
}

} // namespace

TEST(Score, WorkedExamples)
{
    // 'q' hits 'Q' at the start (0.1 + 0.6, start bonus), 'o' hits 'O' after a space (0.1 + 0.8).
    EXPECT_DOUBLE_EQ(scoreAgainst("Quick Open", "qo", std::nullopt, Divide), 0.16);
    EXPECT_EQ(scoreAgainst("Quick Open", "qo", std::nullopt, 1), 0.6300000059604645);
    EXPECT_EQ(scoreAgainst("Quick Open", "qo", std::nullopt, IntegerRatio), 0.5500000059604645);
    EXPECT_EQ(scoreAgainst("note", "N", std::nullopt, Divide), 0.175);
    // The short forms mean no fuzziness and the option value 1.
    EXPECT_EQ(scoreAgainst("Quick Open", "qo"), 0.6300000059604645);
}

TEST(Score, EqualStringsRateTen)
{
    for (int options : {1, Divide, IntegerRatio, Divide | IntegerRatio}) {
        SCOPED_TRACE(options);
        EXPECT_EQ(scoreAgainst("", "", std::nullopt, options), 10.0);
        EXPECT_EQ(scoreAgainst("Meeting notes", "Meeting notes", std::nullopt, options), 10.0);
        EXPECT_EQ(scoreAgainst("Meeting notes", "Meeting notes", 0.5f, options), 10.0);
    }
    // Equality is case-sensitive: 'N' is another case (0.1 + 0.6), the rest follow directly (0.2 + 0.6).
    EXPECT_EQ(scoreAgainst("Note", "note", std::nullopt, Divide), 0.7749999999999999);
}

TEST(Score, EmptyStringsRateZero)
{
    for (int options : {1, Divide, IntegerRatio, Divide | IntegerRatio}) {
        SCOPED_TRACE(options);
        EXPECT_EQ(scoreAgainst("Quick Open", "", std::nullopt, options), 0.0);
        EXPECT_EQ(scoreAgainst("Quick Open", "", 0.5f, options), 0.0);
        EXPECT_EQ(scoreAgainst("", "q", std::nullopt, options), 0.0);
        // Every character misses and the text has no length to divide by.
        EXPECT_EQ(scoreAgainst("", "qo", 0.5f, options), 0.0);
    }
}

TEST(Score, CharactersMustBeFoundInOrder)
{
    // 'a' is found at 1, leaving nothing for 'b'.
    EXPECT_EQ(scoreAgainst("ba", "ab", std::nullopt, Divide), 0.0);
    EXPECT_EQ(scoreAgainst("Quick Open", "oq"), 0.0);
    EXPECT_EQ(scoreAgainst("Quick Open", "qox"), 0.0);
    // A repeated character needs a second occurrence after the first hit.
    EXPECT_GT(scoreAgainst("Sass", "ss"), 0.0);
    EXPECT_EQ(scoreAgainst("Sah", "ss"), 0.0);
}

TEST(Score, EarlierCaseFormWinsAndCaseIsJudgedOnTheUnitFound)
{
    // Both 'A' and 'a' occur; the 'A' at 1 comes first and, in the other case, earns 0.1.
    EXPECT_DOUBLE_EQ(scoreAgainst("bAa", "a", std::nullopt, Divide), 0.1 / 3);
    EXPECT_DOUBLE_EQ(scoreAgainst("baA", "a", std::nullopt, Divide), 0.2 / 3);
    EXPECT_DOUBLE_EQ(scoreAgainst("baA", "A", std::nullopt, Divide), 0.1 / 3);
    // Characters without case are found as they are.
    EXPECT_DOUBLE_EQ(scoreAgainst("v2.1", "21", std::nullopt, Divide), (0.2 + 0.2) / 4);
}

TEST(Score, OnlyAPlainSpaceEarnsTheWordBonus)
{
    EXPECT_DOUBLE_EQ(scoreAgainst("x y", "y", std::nullopt, Divide), (0.2 + 0.8) / 3);
    for (const QString& text : {QString("x\ty"), QString("x\ny"), QString::fromUtf8("x\u00a0y"), QString::fromUtf8("x\u3000y")}) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_DOUBLE_EQ(scoreAgainst(text, "y", std::nullopt, Divide), 0.2 / 3);
    }
    // A space matched by the abbreviation itself leaves the next hit only the follow-on bonus.
    EXPECT_DOUBLE_EQ(scoreAgainst("a b", " b", std::nullopt, Divide), (0.2 + 0.8) / 3);
    EXPECT_DOUBLE_EQ(scoreAgainst("a b", "ab", std::nullopt, Divide), (0.8 + 1.0) / 3);
}

TEST(Score, StartBonusNeedsTheFirstCharacterAtTheFirstUnit)
{
    // 'a' then 'b' directly after it: 1.6 in all, with the start bonus.
    EXPECT_NEAR(scoreAgainst("abx", "ab"), 0.8166666726271312, 1e-15);
    // 'b' still directly follows 'a', but 'a' is not the first unit: 1.0 in all, no bonus.
    EXPECT_NEAR(scoreAgainst("xab", "ab"), 0.41666666666666663, 1e-15);
}

TEST(Score, FuzzinessToleratesMissingCharacters)
{
    // 'x' misses (total 0.1, divisor 1.5), 'q' hits the start of the rest but is not the first
    // character, so no start bonus: s = 0.45, r = 2/3.
    EXPECT_DOUBLE_EQ(scoreAgainst("quo", "xq", 0.5f), 0.25);
    EXPECT_DOUBLE_EQ(scoreAgainst("quo", "xq", 0.5f, Divide), 0.3);
    EXPECT_DOUBLE_EQ(scoreAgainst("quo", "xq", 1.0f), 0.375);
    // Without fuzziness the same miss rates zero.
    EXPECT_EQ(scoreAgainst("quo", "xq"), 0.0);
    // The fuzziness is taken in single precision: 1 - 0.1f is 0.8999999761581421.
    EXPECT_EQ(scoreAgainst("ab", "x", 0.1f), 0.039473684705855785);
    // A miss leaves the rest untouched, so the next character can still hit the start.
    EXPECT_DOUBLE_EQ(scoreAgainst("ab", "xab", 0.5f, Divide), (0.1 + 0.8 + 0.8) / 2);
}

TEST(Score, OutOfRangeFuzzinessGivesAFiniteNonNegativeRating)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float fuzziness : {2.0f, 3.0f, 100.0f, nan, inf, -inf}) {
        for (int options : {1, IntegerRatio}) {
            SCOPED_TRACE(testing::Message() << fuzziness << " " << options);
            const double score = scoreAgainst("abc", "xyz", fuzziness, options);
            EXPECT_TRUE(std::isfinite(score));
            EXPECT_GE(score, 0.0);
        }
    }
    // Below the cancelling point the divisor only shrinks.
    EXPECT_GT(scoreAgainst("abc", "xa", 1.5f), scoreAgainst("abc", "xa", 1.0f));
}

TEST(Score, AccentedAndOtherScriptsMatchByTheirCaseForms)
{
    EXPECT_DOUBLE_EQ(scoreAgainst(QString::fromUtf8("Élan"), QString::fromUtf8("é"), std::nullopt, Divide), 0.7 / 4);
    EXPECT_DOUBLE_EQ(scoreAgainst(QString::fromUtf8("Привет"), QString::fromUtf8("п"), std::nullopt, Divide), 0.7 / 6);
    EXPECT_DOUBLE_EQ(scoreAgainst(QString::fromUtf8("über Ärger"), QString::fromUtf8("ÜÄ"), std::nullopt, Divide), (0.1 + 0.6 + 0.2 + 0.8) / 10);
    // No folding of accents, and a decomposed accent is another sequence of units.
    EXPECT_EQ(scoreAgainst(QString::fromUtf8("élan"), "e"), 0.0);
    EXPECT_EQ(scoreAgainst("elan", QString::fromUtf8("é")), 0.0);
    EXPECT_EQ(scoreAgainst(QString::fromUtf8("e\u0301lan"), QString::fromUtf8("é")), 0.0);
}

TEST(Score, FullCaseMappingCanSpanTwoUnits)
{
    // The upper form of 'ß' is "SS": found at the start of the rest "SSE", in the other case.
    EXPECT_EQ(scoreAgainst("STRASSE", QString::fromUtf8("straße"), std::nullopt, Divide), 0.5142857142857143);
    EXPECT_DOUBLE_EQ(scoreAgainst("STRASSE", QString::fromUtf8("ß"), std::nullopt, Divide), 0.1 / 7);
}

TEST(Score, SurrogatePairsMatchAsWholeCharacters)
{
    const QString grin = utf16({0xD83D, 0xDE00});        // U+1F600
    const QString smile = utf16({0xD83D, 0xDE03});       // U+1F603, same high half
    const QString square = utf16({0xD83C, 0xDE00});      // U+1F200, same low half
    // After 'a' (no bonus) the pair: 0.2 for the high half, 0.2 + 0.6 for the low half that follows it.
    EXPECT_DOUBLE_EQ(scoreAgainst("a" + grin, grin, std::nullopt, Divide), (0.2 + 0.8) / 3);
    EXPECT_DOUBLE_EQ(scoreAgainst("a " + grin, grin, std::nullopt, Divide), (1.0 + 0.8) / 4);
    // Half of one character and half of another are not the character.
    EXPECT_EQ(scoreAgainst(smile + square, grin), 0.0);
    EXPECT_EQ(scoreAgainst(smile + square, grin, std::nullopt, Divide), 0.0);
    EXPECT_DOUBLE_EQ(scoreAgainst(smile + grin, grin, std::nullopt, Divide), (0.2 + 0.8) / 4);
    // A pair at the very start earns the start bonus; one after it does not.
    EXPECT_NEAR(scoreAgainst(grin + "x", grin), 0.8166666726271312, 1e-15);
    EXPECT_NEAR(scoreAgainst("x" + grin, grin), 0.41666666666666663, 1e-15);
    // A missing pair with fuzziness counts as two missing units.
    EXPECT_DOUBLE_EQ(scoreAgainst("ab", grin, 0.5f, Divide), 0.2 / 2);
}

TEST(Score, SurrogatePairsOutsideTheBasicPlaneHaveCaseForms)
{
    const QString capital = utf16({0xD801, 0xDC00}); // U+10400 DESERET CAPITAL LONG I
    const QString small = utf16({0xD801, 0xDC28});   // U+10428 its small letter
    EXPECT_DOUBLE_EQ(scoreAgainst(capital, small, std::nullopt, Divide), (0.7 + 0.7) / 2);
    // The pair is consumed whole, leaving nothing for a second one.
    EXPECT_EQ(scoreAgainst(small, small + small, std::nullopt, Divide), 0.0);
}

TEST(Score, IllFormedUnitsAreHandledSafely)
{
    const QString lowHalf = utf16({0xDE00});
    const QString highHalf = utf16({0xD83D});
    for (const QString& text : {highHalf, lowHalf, QString("a") + highHalf, highHalf + "a" + lowHalf}) {
        for (const QString& query : {highHalf, lowHalf, QString("a") + highHalf, highHalf + lowHalf}) {
            const double score = scoreAgainst(text, query, std::nullopt, Divide);
            EXPECT_TRUE(text == query || (score >= 0.0 && score <= 1.0));
        }
    }
}

// Random texts over a small alphabet with case, spaces, accents and pairs: an exact match always
// rates 10, every other rating with the note search's options lies in [0, 1], and a
// case-insensitive ASCII subsequence always matches while a character that is missing never does.
TEST(Score, RatingsOfTheNoteSearchStayInRange)
{
    const QList<QString> pieces = {"a", "A", "b", "B", " ", "\t", QString::fromUtf8("é"), QString::fromUtf8("É"),
                                   QString::fromUtf8("ß"), "S", utf16({0xD83D, 0xDE00}), utf16({0xD83D, 0xDE03})};
    std::mt19937 random(20261206);
    auto make = [&](int maxPieces) {
        QString s;
        const int count = int(random() % (maxPieces + 1));
        for (int k = 0; k < count; ++k)
            s += pieces[random() % pieces.size()];
        return s;
    };
    for (int round = 0; round < 20000; ++round) {
        const QString text = make(12);
        const QString query = make(4);
        const double score = scoreAgainst(text, query, std::nullopt, Divide);
        SCOPED_TRACE(text.toStdString() + " | " + query.toStdString());
        if (text == query) {
            EXPECT_EQ(score, 10.0);
        } else {
            EXPECT_GE(score, 0.0);
            EXPECT_LE(score, 1.0);
        }
    }
    for (int round = 0; round < 20000; ++round) {
        QString text;
        for (int k = int(random() % 16); k > 0; --k)
            text += QChar(u"abcABC x"[random() % 8]);
        QString query;
        for (qsizetype k = 0; k < text.size(); ++k)
            if (random() % 3 == 0)
                query += random() % 2 ? text[k].toUpper() : text[k].toLower();
        SCOPED_TRACE(text.toStdString() + " | " + query.toStdString());
        if (!query.isEmpty()) {
            EXPECT_GT(scoreAgainst(text, query, std::nullopt, Divide), 0.0);
        }
        EXPECT_EQ(scoreAgainst(text, query + "z", std::nullopt, Divide), 0.0);
    }
}
