#include "Clock.h"
#include "RTTimeIntervalFormatter.h"

#include <gtest/gtest.h>

#include <QCborValue>

#include <cmath>
#include <functional>
#include <limits>

namespace {

constexpr double minute = 60, hour = 3600, day = 86400;

// Phrases are taken at a fixed moment: noon, 15 March 2026, UTC.
class RelativeTimeFormatter : public ::testing::Test {
protected:
    void SetUp() override { Clock::setWallClock([] { return 1773576000.0; }); }
    void TearDown() override { Clock::setWallClock({}); }

    // The English keys as texts, the calendar in UTC.
    static RTTimeIntervalFormatter english()
    {
        RTTimeIntervalFormatter formatter(std::make_shared<RelativeTimeTable>());
        formatter.setCalendar(Calendar(QTimeZone::utc()));
        formatter.setLocale(QLocale(QLocale::English));
        return formatter;
    }
};

using Adjust = std::function<void(RTTimeIntervalFormatter&)>;

const Adjust defaults = [](RTTimeIntervalFormatter&) {};
const Adjust approximate = [](RTTimeIntervalFormatter& f) { f.setUsesApproximateQualifier(true); };
const Adjust allUnits = [](RTTimeIntervalFormatter& f) { f.setNumberOfSignificantUnits(0); };
const Adjust abbreviated = [](RTTimeIntervalFormatter& f) { f.setUsesAbbreviatedCalendarUnits(true); };
Adjust idioms(QLocale::Language language, uint64_t units = 508)
{
    return [=](RTTimeIntervalFormatter& f) {
        f.setUsesIdiomaticDeicticExpressions(true);
        f.setLocale(QLocale(language));
        f.setSignificantUnits(units);
    };
}
Adjust leastUnit(uint64_t unit)
{
    return [=](RTTimeIntervalFormatter& f) {
        f.setNumberOfSignificantUnits(0);
        f.setLeastSignificantUnit(unit);
    };
}

} // namespace

TEST_F(RelativeTimeFormatter, PhrasesIntervalsInEnglish)
{
    struct Case {
        double seconds;
        Adjust setup;
        const char* expected; // nullptr: no phrase
    };
    const double infinity = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {0, defaults, "just now"},
        {0.999, defaults, "just now"},
        {-0.999, defaults, "just now"},
        {-1, defaults, "1 second ago"},
        {-90, defaults, "1 minute ago"},
        {-90, approximate, "about 1 minute ago"},
        {-90, allUnits, "1 minute 30 seconds ago"},
        {-110, defaults, "1 minute ago"},
        {90, defaults, "1 minute from now"},
        {-(day + hour + minute + 1), [](auto& f) { f.setNumberOfSignificantUnits(2), approximate(f); }, "about 1 day 1 hour ago"},
        {-3 * hour, approximate, "3 hours ago"},
        {-7200, abbreviated, "2 hrs ago"},
        {-5, abbreviated, "5 s ago"},
        {-1, abbreviated, "1 s ago"},
        {-86400, abbreviated, "1 day ago"},
        {-400 * day, abbreviated, "1 yr ago"},
        {26 * hour, idioms(QLocale::English), "tomorrow"},
        {-8 * day, idioms(QLocale::English), "last week"},
        {-2 * day, idioms(QLocale::English), "2 days ago"},
        {-2 * day, idioms(QLocale::Spanish), "antes de ayer"},
        {2 * day, idioms(QLocale::Spanish), "pasado mañana"},
        {-2 * day, idioms(QLocale::Czech), "předevčírem"},
        {-2 * day, idioms(QLocale::Japanese), "2 days ago"},
        {-day, idioms(QLocale::German), "1 day ago"},
        {-8 * day, idioms(QLocale::English, 508 & ~256), "8 days ago"},
        {-400 * day, idioms(QLocale::English, 508 & ~4), "13 months ago"},
        {-365 * day, idioms(QLocale::French), "l'année dernière"},
        {40 * day, idioms(QLocale::Dutch), "volgende maand"},
        {-9 * day, leastUnit(256), "1 week ago"},
        {-9 * day, leastUnit(8192), "1 week ago"},
        {-(9 * day + 3 * hour), leastUnit(512), "1 week 2 days ago"},
        {-(31 + 15) * day, leastUnit(8), "1 month ago"},
        {-(400 * day), leastUnit(4), "1 year ago"},
        {-300, [](auto& f) { f.setPastDeicticExpression(""); }, "5 minutes"},
        {0, [](auto& f) { f.setPresentTimeIntervalMargin(0); }, nullptr},
        {-0.5, [](auto& f) { f.setPresentTimeIntervalMargin(0); }, nullptr},
        {-90, [](auto& f) { f.setSignificantUnits(32); }, nullptr},
        {std::nan(""), defaults, nullptr},
        {-infinity, defaults, nullptr},
        {1e13, defaults, nullptr},
        {-1e11, defaults, "3168 years ago"},
    };
    for (const Case& c : cases) {
        RTTimeIntervalFormatter formatter = english();
        c.setup(formatter);
        const QString phrase = formatter.stringForTimeInterval(c.seconds);
        EXPECT_EQ(phrase, c.expected ? QString::fromUtf8(c.expected) : QString()) << c.seconds;
        EXPECT_EQ(phrase.isNull(), c.expected == nullptr) << c.seconds;
    }
}

TEST_F(RelativeTimeFormatter, FormatsWithMorePlaceholdersThanArgumentsReadEmpty)
{
    RTTimeIntervalFormatter formatter = english();
    formatter.setSuffixExpressionFormat(QStringLiteral("%2$@ (%1$@) %3$@ %@%@%@|100%%"));
    formatter.setDeicticExpressionFormat(QStringLiteral("%@: %@ %d %"));
    EXPECT_EQ(formatter.stringForTimeInterval(-300), QStringLiteral("minutes (5)  5minutes|100%: ago %d %"));
}

TEST_F(RelativeTimeFormatter, OnlyNumbersAreFormattedAndNothingIsParsed)
{
    const RTTimeIntervalFormatter formatter = english();
    EXPECT_EQ(formatter.stringForObjectValue(QVariant(-300)), QStringLiteral("5 minutes ago"));
    EXPECT_EQ(formatter.stringForObjectValue(QVariant(7200.0f)), QStringLiteral("2 hours from now"));
    EXPECT_EQ(formatter.stringForObjectValue(QVariant(qulonglong(120))), QStringLiteral("2 minutes from now"));
    for (const QVariant& other : {QVariant(QStringLiteral("-300")), QVariant(), QVariant(QDateTime::currentDateTime())})
        EXPECT_TRUE(formatter.stringForObjectValue(other).isNull()) << other.typeName();
    EXPECT_TRUE(formatter.localizedStringForNumber(2, 512).isNull());

    QVariant object;
    QString description;
    EXPECT_FALSE(formatter.getObjectValue(&object, QStringLiteral("5 minutes ago"), &description));
    EXPECT_EQ(description, QStringLiteral("Method Not Implemented"));
    EXPECT_FALSE(object.isValid());
}

namespace {

QStringList phrases(const RTTimeIntervalFormatter& formatter)
{
    QStringList result;
    for (int i = -25; i < 25; ++i)
        result << formatter.stringForTimeInterval(std::copysign(std::pow(2.4, std::abs(i)), i));
    return result;
}

// Every setting the archive keeps, away from its default.
void changeArchivedSettings(RTTimeIntervalFormatter& formatter)
{
    formatter.setUsesAbbreviatedCalendarUnits(true);
    formatter.setUsesApproximateQualifier(true);
    formatter.setUsesIdiomaticDeicticExpressions(true);
    formatter.setLocale(QLocale(QLocale::Spanish));
    formatter.setPastDeicticExpression(QStringLiteral("back"));
    formatter.setPresentDeicticExpression(QStringLiteral("this very moment"));
    formatter.setFutureDeicticExpression(QStringLiteral("ahead"));
    formatter.setDeicticExpressionFormat(QStringLiteral("%2$@: %1$@"));
    formatter.setApproximateQualifierFormat(QStringLiteral("~%@"));
    formatter.setPresentTimeIntervalMargin(30);
}

} // namespace

TEST_F(RelativeTimeFormatter, CopiesKeepEverySetting)
{
    RTTimeIntervalFormatter original(RelativeTimeTable::forLanguage(QStringLiteral("pl")));
    changeArchivedSettings(original);
    original.setCalendar(Calendar(QTimeZone("Pacific/Auckland")));
    original.setSuffixExpressionFormat(QStringLiteral("%2$@=%1$@"));
    original.setNumberOfSignificantUnits(2);
    original.setLeastSignificantUnit(CalendarUnitMinute);
    original.setSignificantUnits(508 & ~256);

    const RTTimeIntervalFormatter copy(original);
    EXPECT_EQ(phrases(copy), phrases(original));
    EXPECT_EQ(copy.calendar().timeZone(), original.calendar().timeZone());
    EXPECT_NE(phrases(copy), phrases(RTTimeIntervalFormatter(RelativeTimeTable::forLanguage(QStringLiteral("pl")))));
}

TEST_F(RelativeTimeFormatter, ArchivesRoundTripAndDefaultWhatTheyLack)
{
    RTTimeIntervalFormatter original;
    changeArchivedSettings(original);
    const QByteArray bytes = QCborValue(original.encodeWithCoder()).toCbor();
    const auto decoded = RTTimeIntervalFormatter::initWithCoder(QCborValue::fromCbor(bytes).toMap());
    EXPECT_EQ(phrases(decoded), phrases(original));
    EXPECT_EQ(original.encodeWithCoder().size(), 10);

    QCborMap wrongTypes;
    wrongTypes.insert(QStringLiteral("locale"), 7);
    wrongTypes.insert(QStringLiteral("pastDeicticExpression"), true);
    wrongTypes.insert(QStringLiteral("presentTimeIntervalMargin"), QStringLiteral("lots"));
    for (const QCborMap& archive : {QCborMap(), wrongTypes})
        EXPECT_EQ(phrases(RTTimeIntervalFormatter::initWithCoder(archive)), phrases(RTTimeIntervalFormatter()));
}
