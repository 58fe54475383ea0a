#pragma once

#include "Error.h"
#include "Query.h"
#include "Record.h"
#include "Subscription.h"

#include <QList>
#include <QVariant>

#include <functional>

#include <optional>

// What every SQL backend does alike around its statements: checks before a
// write, bound values, the text of a query page and which subscriptions fire.
namespace RecordStoreSql {

// The value of a field as a bound argument, in the column its kind uses.
QVariant argument(const FieldValue& value);
// Which of the value columns int, real, text, blob (0 to 3) holds a kind.
int valueColumn(size_t kind);
// A field read back from its kind and value column.
std::optional<FieldValue> fieldValue(int kind, int64_t integer, double real, const QString& text,
                                     const QByteArray& blob);

struct Statement {
    QString sql; // `?` placeholders
    QVariantList arguments;
};

// The rows (zone, name, type, change_tag, created, modified) of one page of a
// query, in store order; one more than the limit tells whether a cursor is needed.
Statement pageOfRecords(const Query& query, const QueryCursor* after, int limit);
// Drops that extra record and answers the cursor to the next page, if any.
std::optional<QueryCursor> trimPage(QList<Record>& records, const Query& query, int limit);

// Everything of a modification that can be refused before it writes. With
// refusals (one per save), an invalid record is refused alone there instead.
std::optional<Error> checkChanges(const QList<Record>& saves, const QList<RecordID>& deleteIDs,
                                  QList<Error>* refusals = nullptr);
// Saves the records in order until one fails. With refusals, a record refused
// already or by its own check (save sets refused, and wrote nothing) is skipped
// and its refusal kept there; any other failure still stops the lot.
Error saveInOrder(QList<Record>& records, QList<Error>* refusals,
                  const std::function<Error(Record& record, bool& refused)>& save);
// Fetches the records in order with fetch, sorting the missing from the found,
// until one fails otherwise.
Error fetchInOrder(const QList<RecordID>& ids, QList<Record>& found, QStringList& missing,
                   const std::function<std::optional<Record>(const RecordID& id, Error* error)>& fetch);
// The row UpsertSubscription writes for a subscription, which gets its ID if
// it has none yet; or why the subscription is refused.
std::optional<Error> subscriptionRow(Subscription& subscription, QVariantList& row);
// A subscription from the columns of SelectSubscriptions; none when a newer
// program wrote a predicate this one cannot read.
std::optional<Subscription> subscriptionFromRow(const std::function<QVariant(int column)>& column);

// The reasons of pushes (Notification::Reason values).
enum Reason : int { Created = 1, Updated = 2, Deleted = 3 };
// The subscriptions a change of the record fires.
QList<Subscription> firing(const QList<Subscription>& subscribed, const Record& record, int reason);
bool watchesDeletions(const QList<Subscription>& subscribed);

} // namespace RecordStoreSql
