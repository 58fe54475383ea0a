#include "Predicate.h"

#include "RecordStoreError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Orders two values of one type the way the SQL backends do: strings by
// their UTF-8 bytes, dates by milliseconds.
std::optional<std::partial_ordering> compare(const FieldValue& a, const FieldValue& b)
{
    if (a.index() != b.index())
        return std::nullopt;
    return std::visit(
        [&](const auto& left) -> std::partial_ordering {
            using T = std::decay_t<decltype(left)>;
            const T& right = std::get<T>(b);
            if constexpr (std::is_same_v<T, QString>)
                return left.toUtf8().compare(right.toUtf8()) <=> 0;
            else if constexpr (std::is_same_v<T, QByteArray>)
                return left.compare(right) <=> 0;
            else if constexpr (std::is_same_v<T, QDateTime>)
                return left.toMSecsSinceEpoch() <=> right.toMSecsSinceEpoch();
            else
                return left <=> right;
        },
        a);
}

bool holds(Predicate::Comparison comparison, std::partial_ordering order)
{
    using C = Predicate::Comparison;
    switch (comparison) {
    case C::Equal: return order == 0;
    case C::NotEqual: return order != 0;
    case C::Less: return order < 0;
    case C::LessOrEqual: return order <= 0;
    case C::Greater: return order > 0;
    case C::GreaterOrEqual: return order >= 0;
    }
    return false;
}

const char* const typeNames[] = {"int", "real", "data", "string", "date"};

QJsonValue valueToJson(const FieldValue& value)
{
    return std::visit(
        [](const auto& v) -> QJsonValue {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, int64_t>)
                return QString::number(v);
            else if constexpr (std::is_same_v<T, double>)
                return v;
            else if constexpr (std::is_same_v<T, QByteArray>)
                return QString::fromLatin1(v.toBase64());
            else if constexpr (std::is_same_v<T, QString>)
                return v;
            else
                return QString::number(v.toMSecsSinceEpoch());
        },
        value);
}

std::optional<FieldValue> valueFromJson(const QString& type, const QJsonValue& json)
{
    bool ok = true;
    std::optional<FieldValue> value;
    if (type == QLatin1String("int"))
        value = FieldValue(int64_t(json.toString().toLongLong(&ok)));
    else if (type == QLatin1String("real") && json.isDouble())
        value = FieldValue(json.toDouble());
    else if (type == QLatin1String("data"))
        value = FieldValue(QByteArray::fromBase64(json.toString().toLatin1()));
    else if (type == QLatin1String("string"))
        value = FieldValue(json.toString());
    else if (type == QLatin1String("date"))
        value = FieldValue(QDateTime::fromMSecsSinceEpoch(json.toString().toLongLong(&ok), Qt::UTC));
    return ok ? value : std::nullopt;
}

} // namespace

Predicate Predicate::where(const QString& key, Comparison comparison, FieldValue value)
{
    return alwaysTrue().andWhere(key, comparison, std::move(value));
}

Predicate Predicate::andWhere(const QString& key, Comparison comparison, FieldValue value) const
{
    Predicate result = *this;
    result.conditions_.append({key, comparison, std::move(value)});
    return result;
}

bool Predicate::matches(const Record& record) const
{
    return std::all_of(conditions_.begin(), conditions_.end(), [&](const Condition& condition) {
        const std::optional<FieldValue> value = condition.key == modificationDateKey()
                                                    ? std::optional<FieldValue>(record.modificationDate())
                                                    : record.value(condition.key);
        if (!value)
            return false;
        const auto order = compare(*value, condition.value);
        return order && holds(condition.comparison, *order);
    });
}

std::optional<Error> Predicate::validate() const
{
    for (const Condition& condition : conditions_) {
        if (auto error = RecordValidation::checkKey(condition.key, "predicate key"))
            return error;
        if (auto error = RecordValidation::checkValue(condition.key, condition.value))
            return error;
        if (condition.key == modificationDateKey() && !std::holds_alternative<QDateTime>(condition.value))
            return RecordStoreError::make(RecordStoreError::InvalidArguments,
                                          QStringLiteral("modificationDate compares with a date only"));
    }
    return std::nullopt;
}

QByteArray Predicate::toJson() const
{
    QJsonArray array;
    for (const Condition& condition : conditions_)
        array.append(QJsonObject {{"key", condition.key},
                                  {"op", int(condition.comparison)},
                                  {"type", typeNames[condition.value.index()]},
                                  {"value", valueToJson(condition.value)}});
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<Predicate> Predicate::fromJson(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isArray())
        return std::nullopt;
    Predicate predicate;
    for (const QJsonValue& item : document.array()) {
        const QJsonObject object = item.toObject();
        const int op = object.value("op").toInt(-1);
        const auto value = valueFromJson(object.value("type").toString(), object.value("value"));
        if (op < 0 || op > int(Comparison::GreaterOrEqual) || !value)
            return std::nullopt;
        predicate = predicate.andWhere(object.value("key").toString(), Comparison(op), *value);
    }
    return predicate;
}
