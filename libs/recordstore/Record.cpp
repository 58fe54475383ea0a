#include "Record.h"

#include "RecordStoreError.h"

#include <cmath>

Record::Record(QString recordType, RecordID recordID)
    : recordType_(std::move(recordType))
    , recordID_(std::move(recordID))
{
}

template <typename T>
std::optional<T> Record::get(const QString& key) const
{
    const auto it = fields_.find(key);
    if (it == fields_.end())
        return std::nullopt;
    if (const T* value = std::get_if<T>(&it->second))
        return *value;
    return std::nullopt;
}

std::optional<int64_t> Record::integer(const QString& key) const { return get<int64_t>(key); }
std::optional<double> Record::real(const QString& key) const { return get<double>(key); }
std::optional<QByteArray> Record::data(const QString& key) const { return get<QByteArray>(key); }
std::optional<QString> Record::string(const QString& key) const { return get<QString>(key); }
std::optional<QDateTime> Record::date(const QString& key) const { return get<QDateTime>(key); }

std::optional<FieldValue> Record::value(const QString& key) const
{
    const auto it = fields_.find(key);
    if (it == fields_.end())
        return std::nullopt;
    return it->second;
}

void Record::setValue(const QString& key, FieldValue value)
{
    if (auto* date = std::get_if<QDateTime>(&value); date && date->isValid())
        *date = QDateTime::fromMSecsSinceEpoch(date->toMSecsSinceEpoch(), Qt::UTC);
    fields_.insert_or_assign(key, std::move(value));
}

void Record::removeValue(const QString& key) { fields_.erase(key); }

int64_t Record::size() const
{
    int64_t total = 0;
    for (const auto& [key, value] : fields_) {
        total += key.size();
        total += std::visit(
            [](const auto& v) -> int64_t {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, QByteArray>)
                    return v.size();
                else if constexpr (std::is_same_v<T, QString>)
                    return v.toUtf8().size();
                else
                    return 8;
            },
            value);
    }
    return total;
}

std::optional<Error> Record::validate() const
{
    if (auto error = RecordValidation::checkName(recordID_.recordName, "record name"))
        return error;
    if (auto error = RecordValidation::checkName(recordID_.zoneName, "zone name"))
        return error;
    if (auto error = RecordValidation::checkKey(recordType_, "record type"))
        return error;
    for (const auto& [key, value] : fields_) {
        if (auto error = RecordValidation::checkKey(key, "field key"))
            return error;
        if (auto error = RecordValidation::checkValue(key, value))
            return error;
    }
    if (size() > MaximumSize)
        return RecordStoreError::make(RecordStoreError::LimitExceeded,
                                      QStringLiteral("record %1 is larger than 1 MiB").arg(recordID_.recordName));
    return std::nullopt;
}

void Record::setSystemFields(QString changeTag, QDateTime creationDate, QDateTime modificationDate)
{
    changeTag_ = std::move(changeTag);
    creationDate_ = std::move(creationDate);
    modificationDate_ = std::move(modificationDate);
}

namespace RecordValidation {

static Error invalid(const QString& text) { return RecordStoreError::make(RecordStoreError::InvalidArguments, text); }

std::optional<Error> checkName(const QString& name, const char* what)
{
    const QByteArray bytes = name.toUtf8();
    if (bytes.isEmpty() || bytes.contains('\0') || bytes.size() > Record::MaximumNameBytes)
        return invalid(QStringLiteral("invalid %1 \"%2\"").arg(QLatin1String(what), name.left(64)));
    return std::nullopt;
}

std::optional<Error> checkKey(const QString& key, const char* what)
{
    const bool ascii = std::all_of(key.begin(), key.end(), [](QChar c) { return c.unicode() > 32 && c.unicode() < 127; });
    if (key.isEmpty() || !ascii || key.size() > Record::MaximumNameBytes)
        return invalid(QStringLiteral("invalid %1 \"%2\"").arg(QLatin1String(what), key.left(64)));
    return std::nullopt;
}

std::optional<Error> checkValue(const QString& key, const FieldValue& value)
{
    const double* real = std::get_if<double>(&value);
    const QDateTime* date = std::get_if<QDateTime>(&value);
    if ((real && std::isnan(*real)) || (date && !date->isValid()))
        return invalid(QStringLiteral("invalid value for %1").arg(key));
    return std::nullopt;
}

} // namespace RecordValidation
