#pragma once

#include "Dispatch.h"
#include "Error.h"
#include "PushSource.h"
#include "Query.h"
#include "Record.h"
#include "Subscription.h"

#include <QDateTime>
#include <QList>

#include <functional>
#include <optional>

// The storage side of one client of a store. Not thread-safe: every call but
// serverTime() comes from the client's serial queue.
class StoreBackend {
public:
    virtual ~StoreBackend() = default;

    // A UUID kept in the store: the same for every client of it.
    virtual QString containerID() const = 0;
    // The clock that dates saves, in whole milliseconds; callable from any thread.
    virtual QDateTime serverTime() const = 0;

    virtual std::optional<Record> fetch(const RecordID& id, const DesiredKeys& desiredKeys, Error* error) = 0;
    // The records of ids that exist, in their order; the names of the others go
    // to missing. Any other failure stops it and is answered.
    virtual Error fetchEach(const QList<RecordID>& ids, QList<Record>& found, QStringList& missing) = 0;
    // Writes all or nothing; the saved records get their new system fields.
    Error modify(QList<Record>& saves, const QList<RecordID>& deleteIDs) { return write(saves, deleteIDs, nullptr); }
    // Saves in one transaction, each record on its own checks: one refused gets
    // its error in refusals (one per save) and the rest are saved, with their
    // new system fields. Any other failure saves none and is answered.
    Error saveEach(QList<Record>& saves, QList<Error>& refusals)
    {
        refusals = QList<Error>(saves.size());
        return write(saves, {}, &refusals);
    }
    // Calls fetched for each record of the page; next is set when more follow.
    // readAt is the store's clock when the page was read.
    virtual Error query(const Query& query, const QueryCursor* after, const DesiredKeys& desiredKeys, int limit,
                        const std::function<void(const Record&)>& fetched, std::optional<QueryCursor>& next,
                        QDateTime& readAt) = 0;

    virtual QList<Subscription> subscriptions(Error* error) = 0;
    virtual Error saveSubscription(Subscription& subscription) = 0;
    virtual Error deleteSubscription(const QString& subscriptionID) = 0;

    // Push: see PushSource. Deliveries come on the given queue.
    virtual Error startPush(const DispatchQueuePtr& queue, PushSource::Deliver deliver) = 0;
    virtual void stopPush(bool unregister) = 0;
    // Delivers what others caused since this client's last delivery.
    virtual void deliverPending() = 0;

protected:
    // modify, or saveEach with refusals.
    virtual Error write(QList<Record>& saves, const QList<RecordID>& deleteIDs, QList<Error>* refusals) = 0;
};
