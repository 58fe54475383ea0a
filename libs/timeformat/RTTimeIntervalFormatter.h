#pragma once

#include "Calendar.h"
#include "RelativeTimeTable.h"

#include <QCborMap>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>

// Phrases the time between two moments in words ("5 minutes ago", "about 2 hours from now", or an
// idiom such as "yesterday" in one of eight languages). It formats seconds and never parses.
// Texts and unit names come from the "RelativeTime" string table; copies share the table.
class RTTimeIntervalFormatter {
public:
    RTTimeIntervalFormatter(); // the process's string table
    explicit RTTimeIntervalFormatter(std::shared_ptr<const RelativeTimeTable> table);

    // The phrase for now to now + `seconds` (negative seconds lie in the past); null when there is
    // nothing to say, or for an interval that is not finite or longer than about 31,000 years.
    QString stringForTimeInterval(double seconds) const;
    QString stringForTimeIntervalFromDate(const QDateTime& from, const QDateTime& to) const;
    // The unit's name for `number` (singular for 1); null for a unit other than the seven.
    QString localizedStringForNumber(uint64_t number, uint64_t unit) const;
    // The idiom of the locale's language for the components, or null.
    QString localizedIdiomaticDeicticExpressionForComponents(const DateComponents& components) const;
    static QString caRelativeDateStringForComponents(const DateComponents& components);
    static QString csRelativeDateStringForComponents(const DateComponents& components);
    static QString enRelativeDateStringForComponents(const DateComponents& components);
    static QString esRelativeDateStringForComponents(const DateComponents& components);
    static QString frRelativeDateStringForComponents(const DateComponents& components);
    static QString jaRelativeDateStringForComponents(const DateComponents& components);
    static QString nlRelativeDateStringForComponents(const DateComponents& components);
    static QString plRelativeDateStringForComponents(const DateComponents& components);

    // The phrase for a number of seconds; null for anything that is not a number.
    QString stringForObjectValue(const QVariant& value) const;
    // Parsing is not offered: always false, with "Method Not Implemented" as the description.
    bool getObjectValue(QVariant* object, const QString& string, QString* errorDescription = nullptr) const;

    // The keyed archive holds the locale, the five texts, the margin and the three switches;
    // whatever an archive lacks or holds in the wrong type keeps its default.
    QCborMap encodeWithCoder() const;
    static RTTimeIntervalFormatter initWithCoder(const QCborMap& archive);

    bool usesAbbreviatedCalendarUnits() const { return usesAbbreviatedCalendarUnits_; }
    void setUsesAbbreviatedCalendarUnits(bool uses) { usesAbbreviatedCalendarUnits_ = uses; }
    bool usesApproximateQualifier() const { return usesApproximateQualifier_; }
    void setUsesApproximateQualifier(bool uses) { usesApproximateQualifier_ = uses; }
    bool usesIdiomaticDeicticExpressions() const { return usesIdiomaticDeicticExpressions_; }
    void setUsesIdiomaticDeicticExpressions(bool uses) { usesIdiomaticDeicticExpressions_ = uses; }
    QLocale locale() const { return locale_; }
    void setLocale(const QLocale& locale) { locale_ = locale; }
    Calendar calendar() const { return calendar_; }
    void setCalendar(const Calendar& calendar) { calendar_ = calendar; }
    QString pastDeicticExpression() const { return pastDeicticExpression_; }
    void setPastDeicticExpression(const QString& text) { pastDeicticExpression_ = text; }
    QString presentDeicticExpression() const { return presentDeicticExpression_; }
    void setPresentDeicticExpression(const QString& text) { presentDeicticExpression_ = text; }
    QString futureDeicticExpression() const { return futureDeicticExpression_; }
    void setFutureDeicticExpression(const QString& text) { futureDeicticExpression_ = text; }
    QString deicticExpressionFormat() const { return deicticExpressionFormat_; }
    void setDeicticExpressionFormat(const QString& format) { deicticExpressionFormat_ = format; }
    QString suffixExpressionFormat() const { return suffixExpressionFormat_; }
    void setSuffixExpressionFormat(const QString& format) { suffixExpressionFormat_ = format; }
    QString approximateQualifierFormat() const { return approximateQualifierFormat_; }
    void setApproximateQualifierFormat(const QString& format) { approximateQualifierFormat_ = format; }
    double presentTimeIntervalMargin() const { return presentTimeIntervalMargin_; }
    void setPresentTimeIntervalMargin(double seconds) { presentTimeIntervalMargin_ = seconds; }
    // 0 means no limit.
    uint64_t numberOfSignificantUnits() const { return numberOfSignificantUnits_; }
    void setNumberOfSignificantUnits(uint64_t count) { numberOfSignificantUnits_ = count; }
    // Weekday and weekday ordinal count as day, week of month and week of year as week.
    uint64_t leastSignificantUnit() const { return leastSignificantUnit_; }
    void setLeastSignificantUnit(uint64_t unit) { leastSignificantUnit_ = unit; }
    uint64_t significantUnits() const { return significantUnits_; }
    void setSignificantUnits(uint64_t units) { significantUnits_ = units; }

private:
    QString phrase(double secondsBefore, const QDateTime& from, const QDateTime& to) const;
    // The unit texts joined by spaces; `approximate` tells whether units were left out.
    QString unitPhrase(const DateComponents& components, bool* approximate) const;

    std::shared_ptr<const RelativeTimeTable> table_;
    bool usesAbbreviatedCalendarUnits_ = false;
    bool usesApproximateQualifier_ = false;
    bool usesIdiomaticDeicticExpressions_ = false;
    QLocale locale_;
    Calendar calendar_;
    QString pastDeicticExpression_;
    QString presentDeicticExpression_;
    QString futureDeicticExpression_;
    QString deicticExpressionFormat_;
    QString suffixExpressionFormat_;
    QString approximateQualifierFormat_;
    double presentTimeIntervalMargin_ = 1.0;
    uint64_t numberOfSignificantUnits_ = 1;
    uint64_t leastSignificantUnit_ = CalendarUnitSecond;
    uint64_t significantUnits_ = CalendarUnitYear | CalendarUnitMonth | CalendarUnitWeek | CalendarUnitDay
        | CalendarUnitHour | CalendarUnitMinute | CalendarUnitSecond;
};
