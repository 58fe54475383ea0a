#include "Clock.h"
#include "RTTimeIntervalFormatter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

TEST(RelativeTimeTable, PluralRulesAgreeWithCldrSamples)
{
    QFile file(QStringLiteral(TEST_DATA_DIR "/plural-samples.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonObject languages = QJsonDocument::fromJson(file.readAll()).object();
    ASSERT_EQ(languages.size(), 8);
    const QStringList names = {QStringLiteral("one"), QStringLiteral("few"), QStringLiteral("many"), QStringLiteral("other")};
    for (auto language = languages.begin(); language != languages.end(); ++language) {
        const QJsonObject categories = language->toObject();
        for (auto category = categories.begin(); category != categories.end(); ++category)
            for (const QJsonValue n : category->toArray())
                EXPECT_EQ(names.value(int(pluralCategory(language.key(), uint64_t(n.toDouble())))), category.key())
                    << qPrintable(language.key()) << " " << n.toDouble();
    }
}

TEST(RelativeTimeTable, EachLanguagePhrasesThePastAndTheFuture)
{
    struct Case {
        const char* language;
        double seconds;
        bool abbreviated;
        const char* expected;
    };
    // Nl and pl put the past word last and the future word first; the one format follows the past.
    const Case cases[] = {
        {"es", -300, false, "hace 5 minutos"}, {"es", 7200, false, "dentro de 2 horas"},
        {"nl", -120, false, "2 minuten geleden"}, {"nl", 86400, true, "1 dag over"},
        {"ca", -60, false, "fa 1 minut"}, {"ca", 3 * 86400, false, "d’aquí a 3 dies"},
        {"pl", -120, false, "2 minuty temu"}, {"pl", -300, false, "5 minut temu"}, {"pl", -22 * 3600, true, "22 godz. temu"},
        {"pl", 12 * 3600, false, "12 godzin za"},
        {"cs", -120, false, "před 2 minuty"}, {"cs", -300, false, "před 5 minut"}, {"cs", 2 * 86400, false, "za 2 dny"},
        {"ja", -300, false, "5 分前"}, {"ja", 3600, false, "1 時間後"},
        {"fr", -300, false, "il y a 5 minutes"}, {"fr", 86400, false, "dans 1 jour"}, {"fr", -5, true, "il y a 5 s"},
    };
    Clock::setWallClock([] { return 1773576000.0; });
    for (const Case& c : cases) {
        RTTimeIntervalFormatter formatter(RelativeTimeTable::forLanguage(QString::fromLatin1(c.language)));
        formatter.setCalendar(Calendar(QTimeZone::utc()));
        formatter.setUsesAbbreviatedCalendarUnits(c.abbreviated);
        EXPECT_EQ(formatter.stringForTimeInterval(c.seconds), QString::fromUtf8(c.expected)) << c.language;
    }
    Clock::setWallClock({});
}

TEST(RelativeTimeTable, TheFirstUiLanguageWithATableOrEnglishWins)
{
    const struct {
        QStringList uiLanguages;
        const char* language;
    } cases[] = {
        {{"de-DE", "es-ES", "fr"}, "es"},
        {{"pl_PL"}, "pl"},
        {{"en-GB", "fr"}, ""},
        {{"C"}, ""},
        {{}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RelativeTimeTable::languageFor(c.uiLanguages), QLatin1String(c.language)) << qPrintable(c.uiLanguages.join(' '));
    EXPECT_TRUE(RelativeTimeTable::forLanguage(QStringLiteral("de"))->isEmpty());
    EXPECT_EQ(RelativeTimeTable::forLanguage(QStringLiteral("ja"))->text(QStringLiteral("no such key")), QStringLiteral("no such key"));
}

TEST(RelativeTimeTable, TheProcessTableFollowsTheLanguageVariable)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QByteArray saved = qgetenv("LANGUAGE");
    qputenv("LANGUAGE", "es");
    EXPECT_EXIT(
        {
            fputs(qPrintable(RTTimeIntervalFormatter().stringForTimeInterval(-300)), stderr);
            exit(0);
        },
        ::testing::ExitedWithCode(0), "^hace 5 minutos$");
    qputenv("LANGUAGE", saved);
}
