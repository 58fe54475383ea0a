#include "RTTimeIntervalFormatter.h"

#include "Clock.h"
#include "ObjectFormat.h"

#include <QCborValue>

#include <cmath>

namespace {

// Beyond this the calendar's year and month counts would leave the range of its arithmetic.
constexpr double longestInterval = 1e12;

struct UnitNames {
    uint64_t unit;
    QString singular, plural, abbreviatedSingular, abbreviatedPlural;
};

// From most to least significant, the order in which phrases list the units.
const UnitNames unitNames[] = {
    {CalendarUnitYear, QStringLiteral("year"), QStringLiteral("years"), QStringLiteral("yr"), QStringLiteral("yrs")},
    {CalendarUnitMonth, QStringLiteral("month"), QStringLiteral("months"), QStringLiteral("mo"), QStringLiteral("mos")},
    {CalendarUnitWeek, QStringLiteral("week"), QStringLiteral("weeks"), QStringLiteral("wk"), QStringLiteral("wks")},
    {CalendarUnitDay, QStringLiteral("day"), QStringLiteral("days"), QStringLiteral("day"), QStringLiteral("days")},
    {CalendarUnitHour, QStringLiteral("hour"), QStringLiteral("hours"), QStringLiteral("hr"), QStringLiteral("hrs")},
    {CalendarUnitMinute, QStringLiteral("minute"), QStringLiteral("minutes"), QStringLiteral("min"), QStringLiteral("mins")},
    {CalendarUnitSecond, QStringLiteral("second"), QStringLiteral("seconds"), QStringLiteral("s"), QStringLiteral("s")},
};

uint64_t significanceOf(uint64_t leastSignificantUnit)
{
    switch (leastSignificantUnit) {
    case CalendarUnitWeekday:
    case CalendarUnitWeekdayOrdinal:
        return CalendarUnitDay;
    case CalendarUnitWeekOfMonth:
    case CalendarUnitWeekOfYear:
        return CalendarUnitWeek;
    default:
        return leastSignificantUnit;
    }
}

// The week ranks between month and day; the other units rank by their bit, smaller first.
bool isAtLeastAsSignificant(uint64_t unit, uint64_t leastSignificantUnit)
{
    const uint64_t least = significanceOf(leastSignificantUnit);
    if (least == CalendarUnitWeek)
        return unit == CalendarUnitYear || unit == CalendarUnitMonth || unit == CalendarUnitWeek;
    if (unit == CalendarUnitWeek)
        return least != CalendarUnitYear && least != CalendarUnitMonth;
    return unit <= least;
}

bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

const QString localeKey = QStringLiteral("locale");
const QString pastKey = QStringLiteral("pastDeicticExpression");
const QString presentKey = QStringLiteral("presentDeicticExpression");
const QString futureKey = QStringLiteral("futureDeicticExpression");
const QString deicticFormatKey = QStringLiteral("deicticExpressionFormat");
const QString approximateFormatKey = QStringLiteral("approximateQualifierFormat");
const QString marginKey = QStringLiteral("presentTimeIntervalMargin");
const QString abbreviatedKey = QStringLiteral("usesAbbreviatedCalendarUnits");
const QString approximateKey = QStringLiteral("usesApproximateQualifier");
const QString idiomaticKey = QStringLiteral("usesIdiomaticDeicticExpressions");

void decodeText(const QCborMap& archive, const QString& key, QString* text)
{
    if (const QCborValue value = archive.value(key); value.isString())
        *text = value.toString();
}

void decodeSwitch(const QCborMap& archive, const QString& key, bool* on)
{
    if (const QCborValue value = archive.value(key); value.isBool())
        *on = value.toBool();
}

} // namespace

RTTimeIntervalFormatter::RTTimeIntervalFormatter()
    : RTTimeIntervalFormatter(RelativeTimeTable::forProcess())
{
}

RTTimeIntervalFormatter::RTTimeIntervalFormatter(std::shared_ptr<const RelativeTimeTable> table)
    : table_(std::move(table))
    , pastDeicticExpression_(table_->text(QStringLiteral("ago")))
    , presentDeicticExpression_(table_->text(QStringLiteral("just now")))
    , futureDeicticExpression_(table_->text(QStringLiteral("from now")))
    , deicticExpressionFormat_(table_->text(QStringLiteral("Deictic Expression Format String"), QStringLiteral("%@ %@")))
    , suffixExpressionFormat_(table_->text(QStringLiteral("Suffix Expression Format String"), QStringLiteral("%@ %@")))
    , approximateQualifierFormat_(table_->text(QStringLiteral("about %@")))
{
}

QString RTTimeIntervalFormatter::stringForTimeInterval(double seconds) const
{
    if (!std::isfinite(seconds) || std::abs(seconds) > longestInterval)
        return QString();
    const auto now = QDateTime::fromMSecsSinceEpoch(std::llround(Clock::nowPrecise() * 1000), Qt::UTC);
    return phrase(-seconds, now, now.addMSecs(std::llround(seconds * 1000)));
}

QString RTTimeIntervalFormatter::stringForTimeIntervalFromDate(const QDateTime& from, const QDateTime& to) const
{
    if (!from.isValid() || !to.isValid())
        return QString();
    const double secondsBefore = double(to.msecsTo(from)) / 1000;
    if (std::abs(secondsBefore) > longestInterval)
        return QString();
    return phrase(secondsBefore, from, to);
}

QString RTTimeIntervalFormatter::phrase(double secondsBefore, const QDateTime& from, const QDateTime& to) const
{
    if (presentTimeIntervalMargin_ > std::abs(secondsBefore))
        return presentDeicticExpression_;
    const DateComponents components = calendar_.components(significantUnits_, from, to);
    if (usesIdiomaticDeicticExpressions_) {
        if (QString idiom = localizedIdiomaticDeicticExpressionForComponents(components); !idiom.isNull())
            return idiom;
    }
    bool approximate = false;
    QString result = unitPhrase(components, &approximate);
    if (result.isNull())
        return result;
    const QString& deictic = secondsBefore > 0 ? pastDeicticExpression_ : futureDeicticExpression_;
    if (!deictic.isEmpty())
        result = formatWithObjects(deicticExpressionFormat_, {result, deictic});
    if (approximate && usesApproximateQualifier_)
        result = formatWithObjects(approximateQualifierFormat_, {result});
    return result;
}

QString RTTimeIntervalFormatter::unitPhrase(const DateComponents& components, bool* approximate) const
{
    QString result;
    uint64_t unitsMet = 0;
    for (const UnitNames& names : unitNames) {
        if (!(significantUnits_ & names.unit) || !isAtLeastAsSignificant(names.unit, leastSignificantUnit_))
            continue;
        const int64_t value = components.value(names.unit).value_or(0);
        if (value == 0)
            continue;
        const uint64_t magnitude = value < 0 ? 0 - uint64_t(value) : uint64_t(value);
        if (unitsMet > 0 && numberOfSignificantUnits_ != 0 && unitsMet >= numberOfSignificantUnits_) {
            *approximate = true;
        } else {
            const QString text = formatWithObjects(suffixExpressionFormat_,
                {QString::number(magnitude), localizedStringForNumber(magnitude, names.unit)});
            result = result.isNull() ? text : result + u' ' + text;
        }
        ++unitsMet;
    }
    return result;
}

QString RTTimeIntervalFormatter::localizedStringForNumber(uint64_t number, uint64_t unit) const
{
    for (const UnitNames& names : unitNames) {
        if (names.unit != unit)
            continue;
        const QString& key = usesAbbreviatedCalendarUnits_ ? (number == 1 ? names.abbreviatedSingular : names.abbreviatedPlural)
                                                           : (number == 1 ? names.singular : names.plural);
        return table_->pluralText(key, number);
    }
    return QString();
}

QString RTTimeIntervalFormatter::stringForObjectValue(const QVariant& value) const
{
    return isNumber(value) ? stringForTimeInterval(value.toDouble()) : QString();
}

bool RTTimeIntervalFormatter::getObjectValue(QVariant*, const QString&, QString* errorDescription) const
{
    if (errorDescription)
        *errorDescription = table_->text(QStringLiteral("Method Not Implemented"));
    return false;
}

QCborMap RTTimeIntervalFormatter::encodeWithCoder() const
{
    QCborMap archive;
    archive.insert(localeKey, locale_.name());
    archive.insert(pastKey, pastDeicticExpression_);
    archive.insert(presentKey, presentDeicticExpression_);
    archive.insert(futureKey, futureDeicticExpression_);
    archive.insert(deicticFormatKey, deicticExpressionFormat_);
    archive.insert(approximateFormatKey, approximateQualifierFormat_);
    archive.insert(marginKey, presentTimeIntervalMargin_);
    archive.insert(abbreviatedKey, usesAbbreviatedCalendarUnits_);
    archive.insert(approximateKey, usesApproximateQualifier_);
    archive.insert(idiomaticKey, usesIdiomaticDeicticExpressions_);
    return archive;
}

RTTimeIntervalFormatter RTTimeIntervalFormatter::initWithCoder(const QCborMap& archive)
{
    RTTimeIntervalFormatter formatter;
    if (const QCborValue locale = archive.value(localeKey); locale.isString())
        formatter.locale_ = QLocale(locale.toString());
    decodeText(archive, pastKey, &formatter.pastDeicticExpression_);
    decodeText(archive, presentKey, &formatter.presentDeicticExpression_);
    decodeText(archive, futureKey, &formatter.futureDeicticExpression_);
    decodeText(archive, deicticFormatKey, &formatter.deicticExpressionFormat_);
    decodeText(archive, approximateFormatKey, &formatter.approximateQualifierFormat_);
    if (const QCborValue margin = archive.value(marginKey); margin.isDouble() || margin.isInteger())
        formatter.presentTimeIntervalMargin_ = margin.toDouble();
    decodeSwitch(archive, abbreviatedKey, &formatter.usesAbbreviatedCalendarUnits_);
    decodeSwitch(archive, approximateKey, &formatter.usesApproximateQualifier_);
    decodeSwitch(archive, idiomaticKey, &formatter.usesIdiomaticDeicticExpressions_);
    return formatter;
}
