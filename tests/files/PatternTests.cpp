#include "files/DatePattern.h"
#include "files/UnicodeRegex.h"

#include <QTimeZone>

#include <gtest/gtest.h>

TEST(Files, RegexClassesKnowUnicodeLettersAndSpaces)
{
    const auto nonWord = UnicodeRegex::expression(R"(\W+)");
    EXPECT_EQ(UnicodeRegex::replace(u"Crème brûlée, naïve!"_qs, nonWord, " "), u"Crème brûlée naïve "_qs);
    EXPECT_EQ(UnicodeRegex::replace(u"Привет мир"_qs, nonWord, ""), u"Приветмир"_qs);

    const auto spaces = UnicodeRegex::expression(R"(\s+)");
    EXPECT_EQ(UnicodeRegex::replace(u"a\u00A0b\u2003c"_qs, spaces, "_"), "a_b_c");

    const auto word = UnicodeRegex::expression(R"(\bécole\b)", UnicodeRegex::CaseInsensitive);
    EXPECT_TRUE(word.match(u"L'ÉCOLE ferme"_qs).hasMatch());
    EXPECT_FALSE(word.match(u"lécole"_qs).hasMatch());
}

TEST(Files, RegexAnchorsAndDotKnowEveryLineTerminator)
{
    const auto indent = UnicodeRegex::expression(R"(^\s+)", UnicodeRegex::AnchorsMatchLines);
    EXPECT_EQ(UnicodeRegex::replace(u"a\r\n  b\u2028\tc"_qs, indent, ""), u"a\r\nb\u2028c"_qs);

    const auto line = UnicodeRegex::expression(R"(^([ \t]*(|[^\n\r]*[^ \t\n\r])[ \t]*)$)", 16);
    QStringList trimmed;
    for (auto it = line.globalMatch(u"  one \r\n\ttwo\n\n"_qs); it.hasNext();)
        trimmed << it.next().captured(2);
    // As on the platform, "^" does not match after the last line break.
    EXPECT_EQ(trimmed, (QStringList{"one", "two", ""}));

    EXPECT_FALSE(UnicodeRegex::expression("a.b").match(u"a\u2029b"_qs).hasMatch());
    EXPECT_TRUE(UnicodeRegex::expression("a.b", UnicodeRegex::DotMatchesLineSeparators).match(u"a\u2029b"_qs).hasMatch());
    EXPECT_TRUE(UnicodeRegex::expression("a.b", UnicodeRegex::UseUnixLineSeparators).match(u"a\rb"_qs).hasMatch());
    EXPECT_TRUE(UnicodeRegex::expression("a.b", UnicodeRegex::IgnoreMetacharacters).match("xa.by").hasMatch());
    EXPECT_FALSE(UnicodeRegex::expression("a.b", UnicodeRegex::IgnoreMetacharacters).match("axb").hasMatch());
}

TEST(Files, RegexTemplatesUseDollarGroups)
{
    // The heading marks of a note's search text go, a quote prefix stays.
    const auto heading = UnicodeRegex::expression(R"(^(|>[> ]*)\#( |\#+))", UnicodeRegex::AnchorsMatchLines);
    EXPECT_EQ(UnicodeRegex::replace("# Title\n> ## Quote\nnot # this", heading, "$1 "), " Title\n>   Quote\nnot # this");

    const auto pair = UnicodeRegex::expression("(a)(b)");
    EXPECT_EQ(UnicodeRegex::replace("ab", pair, "$2$1"), "ba");
    EXPECT_EQ(UnicodeRegex::replace("ab", pair, "$12"), "a2");   // no group 12: group 1, then "2"
    EXPECT_EQ(UnicodeRegex::replace("ab", pair, R"(\$1\\)"), R"($1\)");
    EXPECT_EQ(UnicodeRegex::replace("ab", pair, "$"), "$");
    EXPECT_EQ(UnicodeRegex::replace("xyz", UnicodeRegex::expression("q?"), "-"), "-x-y-z-");
    EXPECT_EQ(UnicodeRegex::replace("ab", UnicodeRegex::expression("(x)?b"), "[$1]"), "a[]");
}

TEST(Files, DatePatternsAreThePlatformsNotQts)
{
    const QDateTime utc(QDate(2024, 3, 15), QTime(9, 30, 12, 345), Qt::UTC);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(DatePattern::format(utc, "yyyyMMdd-HHmmssSSS"), "20240315-093012345");
    EXPECT_EQ(DatePattern::format(utc, "yyyy'-'MM'-'dd' 'HH'-'mm'"), "2024-03-15 09-30");
    EXPECT_EQ(DatePattern::format(utc, "yy/M/d S SSSS"), "24/3/15 3 3450");
    EXPECT_EQ(DatePattern::format(utc, "EEE, d MMM yyyy", english), "Fri, 15 Mar 2024");
    EXPECT_EQ(DatePattern::format(utc, "EEEE d MMMM", english), "Friday 15 March");
    EXPECT_EQ(DatePattern::format(utc, "h 'o''clock' a", english), "9 o'clock AM");
    EXPECT_EQ(DatePattern::format(utc, "''HH''"), "'09'");
    EXPECT_EQ(DatePattern::format(utc, "zzz Z ZZZZZ"), "GMT +0000 Z");

    const QDateTime midnight(QDate(2024, 3, 15), QTime(0, 5), Qt::UTC);
    EXPECT_EQ(DatePattern::format(midnight, "H h K k"), "0 12 0 24");

    const QDateTime berlin = utc.toTimeZone(QTimeZone("Europe/Berlin"));
    EXPECT_EQ(DatePattern::format(berlin, "yyyy-MM-dd 'at' HH-mm-ss zzz"), "2024-03-15 at 10-30-12 CET");
    EXPECT_EQ(DatePattern::format(berlin, "Z ZZZZ ZZZZZ"), "+0100 GMT+01:00 +01:00");

    const QDateTime dubai = utc.toTimeZone(QTimeZone("Asia/Dubai"));
    EXPECT_EQ(DatePattern::format(dubai, "HH zzz"), "13 GMT+4");
    const QDateTime india = utc.toTimeZone(QTimeZone(5 * 3600 + 1800));
    EXPECT_EQ(DatePattern::format(india, "HH:mm zzz"), "15:00 GMT+5:30");
}
