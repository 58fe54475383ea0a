#include "RecordStoreSql.h"

#include "Clock.h"
#include "RecordStoreError.h"
#include "RecordStoreSchema.h"

#include <QHash>

using namespace RecordStoreSchema;

namespace RecordStoreSql {

namespace {

const char* sqlOperator(Predicate::Comparison comparison)
{
    using C = Predicate::Comparison;
    switch (comparison) {
    case C::Equal: return "=";
    case C::NotEqual: return "<>";
    case C::Less: return "<";
    case C::LessOrEqual: return "<=";
    case C::Greater: return ">";
    case C::GreaterOrEqual: return ">=";
    }
    return "=";
}

QLatin1String columnForKind(size_t kind)
{
    static const char* const names[] = {"int", "real", "text", "blob"};
    return QLatin1String(names[valueColumn(kind)]);
}

} // namespace

QVariant argument(const FieldValue& value)
{
    return std::visit(
        [](const auto& v) -> QVariant {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, int64_t>)
                return QVariant::fromValue<qlonglong>(v);
            else if constexpr (std::is_same_v<T, QDateTime>)
                return QVariant::fromValue<qlonglong>(v.toMSecsSinceEpoch());
            else
                return QVariant::fromValue(v);
        },
        value);
}

int valueColumn(size_t kind)
{
    switch (kind) {
    case KindReal: return 1;
    case KindString: return 2;
    case KindData: return 3;
    default: return 0; // integers and dates
    }
}

std::optional<FieldValue> fieldValue(int kind, int64_t integer, double real, const QString& text,
                                     const QByteArray& blob)
{
    switch (kind) {
    case KindInteger: return FieldValue(integer);
    case KindReal: return FieldValue(real);
    case KindData: return FieldValue(blob);
    case KindString: return FieldValue(text);
    case KindDate: return FieldValue(QDateTime::fromMSecsSinceEpoch(integer, Qt::UTC));
    default: return std::nullopt;
    }
}

Statement pageOfRecords(const Query& query, const QueryCursor* after, int limit)
{
    Statement statement {
        QStringLiteral("SELECT zone, name, type, change_tag, created, modified FROM records WHERE type = ?"),
        {query.recordType}};
    // Conditions on one field share one indexed subquery, so a window
    // "from <= date < to" reads only the fields inside it.
    QList<std::pair<QString, size_t>> fields;
    QHash<QString, QStringList> comparisons;
    QHash<QString, QVariantList> values;
    for (const Predicate::Condition& condition : query.predicate.conditions()) {
        const QString key = condition.key + QLatin1Char('\n') + QString::number(condition.value.index());
        const QString column = condition.key == Predicate::modificationDateKey()
                                   ? QStringLiteral("modified")
                                   : QString(columnForKind(condition.value.index()));
        if (!comparisons.contains(key))
            fields.append({condition.key, condition.value.index()});
        comparisons[key].append(QStringLiteral("%1 %2 ?").arg(column, QLatin1String(sqlOperator(condition.comparison))));
        values[key].append(argument(condition.value));
    }
    for (const auto& [field, kind] : fields) {
        const QString key = field + QLatin1Char('\n') + QString::number(kind);
        const QString tests = comparisons[key].join(QStringLiteral(" AND "));
        if (field == Predicate::modificationDateKey()) {
            statement.sql += QStringLiteral(" AND ") + tests;
        } else {
            statement.sql +=
                QStringLiteral(" AND (zone, name) IN (SELECT zone, name FROM fields WHERE key = ? AND kind = ? AND %1)")
                    .arg(tests);
            statement.arguments << field << int(kind);
        }
        statement.arguments += values[key];
    }
    if (after) {
        statement.sql += QStringLiteral(" AND (modified, zone, name) > (?, ?, ?)");
        statement.arguments << qlonglong(after->modifiedMSecs) << after->after.zoneName << after->after.recordName;
    }
    statement.sql += QStringLiteral(" ORDER BY modified, zone, name");
    if (limit > 0) {
        statement.sql += QStringLiteral(" LIMIT ?");
        statement.arguments << limit + 1;
    }
    return statement;
}

std::optional<QueryCursor> trimPage(QList<Record>& records, const Query& query, int limit)
{
    if (limit <= 0 || records.size() <= limit)
        return std::nullopt;
    records.resize(limit);
    return QueryCursor {query, records.last().modificationDate().toMSecsSinceEpoch(), records.last().recordID()};
}

std::optional<Error> checkChanges(const QList<Record>& saves, const QList<RecordID>& deleteIDs,
                                  QList<Error>* refusals)
{
    for (qsizetype i = 0; i < saves.size(); ++i) {
        auto error = saves[i].validate();
        if (error && !refusals)
            return error;
        if (error)
            (*refusals)[i] = *error;
    }
    for (const RecordID& id : deleteIDs) {
        auto error = RecordValidation::checkName(id.recordName, "record name");
        if (!error)
            error = RecordValidation::checkName(id.zoneName, "zone name");
        if (error)
            return error;
    }
    return std::nullopt;
}

Error saveInOrder(QList<Record>& records, QList<Error>* refusals,
                  const std::function<Error(Record& record, bool& refused)>& save)
{
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (refusals && !(*refusals)[i].isNull())
            continue;
        // Told apart from a failed statement, whose code may look the same but
        // which leaves a PostgreSQL transaction unusable.
        bool refused = false;
        Error error = save(records[i], refused);
        if (refusals && refused && !error.isNull())
            (*refusals)[i] = error;
        else if (!error.isNull())
            return error;
    }
    return {};
}

Error fetchInOrder(const QList<RecordID>& ids, QList<Record>& found, QStringList& missing,
                   const std::function<std::optional<Record>(const RecordID& id, Error* error)>& fetch)
{
    for (const RecordID& id : ids) {
        Error error;
        if (auto record = fetch(id, &error))
            found.append(std::move(*record));
        else if (error.code == RecordStoreError::UnknownItem)
            missing.append(id.recordName);
        else
            return error;
    }
    return {};
}

std::optional<Error> subscriptionRow(Subscription& subscription, QVariantList& row)
{
    if (auto error = RecordValidation::checkKey(subscription.recordType, "record type"))
        return error;
    if (auto error = subscription.predicate.validate())
        return error;
    constexpr int allOptions = Subscription::FiresOnRecordCreation | Subscription::FiresOnRecordUpdate
                               | Subscription::FiresOnRecordDeletion;
    if (subscription.options <= 0 || (subscription.options & ~allOptions))
        return RecordStoreError::make(RecordStoreError::InvalidArguments,
                                      QStringLiteral("invalid subscription options %1").arg(subscription.options));
    if (subscription.subscriptionID.isEmpty())
        subscription.subscriptionID = Clock::newUUID();
    row = {subscription.subscriptionID, subscription.recordType, QString::fromUtf8(subscription.predicate.toJson()),
           subscription.options, int(subscription.notificationInfo.shouldSendContentAvailable),
           subscription.notificationInfo.alertBody};
    return std::nullopt;
}

std::optional<Subscription> subscriptionFromRow(const std::function<QVariant(int column)>& column)
{
    const auto predicate = Predicate::fromJson(column(2).toByteArray());
    if (!predicate)
        return std::nullopt;
    return Subscription {column(0).toString(), column(1).toString(), *predicate, column(3).toInt(),
                         {column(4).toInt() != 0, column(5).toString()}};
}

QList<Subscription> firing(const QList<Subscription>& subscribed, const Record& record, int reason)
{
    static constexpr int optionForReason[] = {0, Subscription::FiresOnRecordCreation,
                                              Subscription::FiresOnRecordUpdate, Subscription::FiresOnRecordDeletion};
    QList<Subscription> result;
    for (const Subscription& subscription : subscribed)
        if ((subscription.options & optionForReason[reason]) && subscription.recordType == record.recordType()
            && subscription.predicate.matches(record))
            result.append(subscription);
    return result;
}

bool watchesDeletions(const QList<Subscription>& subscribed)
{
    return std::any_of(subscribed.begin(), subscribed.end(), [](const Subscription& s) {
        return s.options & Subscription::FiresOnRecordDeletion;
    });
}

} // namespace RecordStoreSql
