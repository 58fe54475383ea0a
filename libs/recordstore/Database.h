#pragma once

#include "Dispatch.h"
#include "Error.h"
#include "Query.h"
#include "Record.h"
#include "Subscription.h"

#include <QDateTime>
#include <QList>

#include <functional>
#include <optional>

// One database of a container. Every operation returns at once and calls its
// callbacks exactly once (recordFetched once per record) on the database's own
// serial queue, never on the caller's thread. A null Error means success.
class Database {
public:
    using RecordCompletion = std::function<void(std::optional<Record> record, Error error)>;
    // Found records in the order asked; a missing ID leaves it out and makes
    // the error PartialFailure (2) with the missing names under "missing".
    using RecordsCompletion = std::function<void(QList<Record> records, Error error)>;
    using RecordFetched = std::function<void(const Record& record)>;
    // A cursor when the limit stopped the query before its last record.
    using QueryCompletion = std::function<void(std::optional<QueryCursor> cursor, QDateTime serverTime, Error error)>;
    // On failure nothing was saved or deleted.
    using ModifyCompletion = std::function<void(QList<Record> saved, QList<RecordID> deleted, Error error)>;
    // One record's answer among many saves: what saveRecord would have answered.
    struct SaveOutcome {
        std::optional<Record> record;
        Error error;
    };
    // An outcome for every record, in the order given.
    using SavesCompletion = std::function<void(QList<SaveOutcome> outcomes)>;
    using SubscriptionsCompletion = std::function<void(QList<Subscription> subscriptions, Error error)>;
    using SubscriptionCompletion = std::function<void(std::optional<Subscription> subscription, Error error)>;
    using DeleteSubscriptionCompletion = std::function<void(QString subscriptionID, Error error)>;

    virtual ~Database() = default;

    // A missing record: UnknownItem (11).
    virtual void fetchRecord(const RecordID& id, RecordCompletion completion) = 0;
    virtual void fetchRecords(const QList<RecordID>& ids, RecordsCompletion completion) = 0;
    // Compare-and-swap on the change tag: the saved copy must carry the tag the
    // store holds, and a never-saved record must not exist yet, else
    // ServerRecordChanged (14); a saved copy whose record is gone: UnknownItem (11).
    // Answers the record with its new system fields.
    virtual void saveRecord(const Record& record, RecordCompletion completion) = 0;
    // Saves as saveRecord does, record after record (a second copy of a record
    // meets the tag the first left), in one transaction: a record its check
    // refuses is refused alone. Any other failure saves none and every record
    // not refused answers it.
    virtual void saveRecords(const QList<Record>& records, SavesCompletion completion) = 0;
    // limit 0: no limit. A predicate or key the store cannot take: InvalidArguments (12).
    virtual void addQueryOperation(const Query& query, const DesiredKeys& desiredKeys, int limit,
                                   RecordFetched recordFetched, QueryCompletion completion) = 0;
    virtual void continueQuery(const QueryCursor& cursor, const DesiredKeys& desiredKeys, int limit,
                               RecordFetched recordFetched, QueryCompletion completion) = 0;
    // Saves and deletes in one transaction; deleting a missing ID succeeds.
    virtual void modifyRecords(const QList<Record>& saves, const QList<RecordID>& deleteIDs,
                               ModifyCompletion completion) = 0;
    virtual void fetchAllSubscriptions(SubscriptionsCompletion completion) = 0;
    // options: a combination of Subscription::Option; an ID that exists is replaced.
    virtual void saveSubscription(const Subscription& subscription, SubscriptionCompletion completion) = 0;
    // A missing ID: UnknownItem (11).
    virtual void deleteSubscription(const QString& subscriptionID, DeleteSubscriptionCompletion completion) = 0;

    // The store's clock, in milliseconds, as modification dates are set.
    virtual QDateTime serverTime() const = 0;
    // The queue every callback runs on.
    virtual DispatchQueuePtr queue() const = 0;
};
