#pragma once

#include "Error.h"
#include "RecordID.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <variant>

// One field value. Dates keep whole milliseconds in UTC.
using FieldValue = std::variant<int64_t, double, QByteArray, QString, QDateTime>;

// A typed set of fields under a record ID. The system fields (change tag,
// creation and modification dates) are set by the store on save; a record never
// saved has an empty change tag.
class Record {
public:
    // The largest record the store accepts: field keys and values together.
    static constexpr int64_t MaximumSize = 1024 * 1024;
    static constexpr int MaximumNameBytes = 255;

    Record() = default;
    Record(QString recordType, RecordID recordID);

    const QString& recordType() const { return recordType_; }
    const RecordID& recordID() const { return recordID_; }
    const QString& recordChangeTag() const { return changeTag_; }
    const QDateTime& creationDate() const { return creationDate_; }
    const QDateTime& modificationDate() const { return modificationDate_; }

    // Each getter answers nothing when the field is absent or of another type.
    std::optional<int64_t> integer(const QString& key) const;
    std::optional<double> real(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<QString> string(const QString& key) const;
    std::optional<QDateTime> date(const QString& key) const;
    std::optional<FieldValue> value(const QString& key) const;

    void setValue(const QString& key, FieldValue value);
    void removeValue(const QString& key);
    const std::map<QString, FieldValue>& fields() const { return fields_; }

    // Bytes of all keys and values, measured against MaximumSize.
    int64_t size() const;
    // Empty when the store can take the record: a valid name, ASCII field keys,
    // no NaN and no invalid date (12), not over MaximumSize (27).
    std::optional<Error> validate() const;

    // For the store only.
    void setSystemFields(QString changeTag, QDateTime creationDate, QDateTime modificationDate);

private:
    template <typename T>
    std::optional<T> get(const QString& key) const;

    QString recordType_;
    RecordID recordID_;
    QString changeTag_;
    QDateTime creationDate_;
    QDateTime modificationDate_;
    std::map<QString, FieldValue> fields_;
};

namespace RecordValidation {
// Empty for a valid record or zone name: not empty, no NUL, at most 255 UTF-8 bytes.
std::optional<Error> checkName(const QString& name, const char* what);
// Empty for a valid field key or record type: printable ASCII, not empty.
std::optional<Error> checkKey(const QString& key, const char* what);
// Empty for a value the store can keep: no NaN, no invalid date.
std::optional<Error> checkValue(const QString& key, const FieldValue& value);
} // namespace RecordValidation
