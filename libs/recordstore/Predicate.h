#pragma once

#include "Record.h"

#include <QList>

// Which records a query or subscription takes: always true, or comparisons
// ANDed together. A comparison holds only when the record has the field with a
// value of the same type; the key "modificationDate" compares the system field.
class Predicate {
public:
    enum class Comparison { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };
    struct Condition {
        QString key;
        Comparison comparison;
        FieldValue value;
    };

    static QString modificationDateKey() { return QStringLiteral("modificationDate"); }

    static Predicate alwaysTrue() { return {}; }
    static Predicate where(const QString& key, Comparison comparison, FieldValue value);
    Predicate andWhere(const QString& key, Comparison comparison, FieldValue value) const;

    const QList<Condition>& conditions() const { return conditions_; }
    bool matches(const Record& record) const;
    // Empty when every condition has an ASCII key and a usable value, and a
    // date for "modificationDate"; else error 12.
    std::optional<Error> validate() const;

    // A stable text form, for keeping subscriptions in a store.
    QByteArray toJson() const;
    static std::optional<Predicate> fromJson(const QByteArray& json);

private:
    QList<Condition> conditions_;
};
