#pragma once

#include "RecordID.h"
#include "Subscription.h"

#include <QVariantMap>

// A push as the application receives it. The dictionary reads
//   {"ck": {"qry": {"rid": record name, "zid": zone, "sid": subscription, "fo": reason}},
//    "aps": {"content-available": 1, "alert": alert body}}
// where "content-available" and "alert" are present only when asked for.
class Notification {
public:
    enum Type : int { TypeUnknown = 0, TypeQuery = 1 };
    enum Reason : int { RecordCreated = 1, RecordUpdated = 2, RecordDeleted = 3 };

    static Notification fromRemoteNotificationDictionary(const QVariantMap& dictionary);
    static QVariantMap remoteNotificationDictionary(const QString& subscriptionID, const RecordID& recordID,
                                                    Reason reason, const Subscription::NotificationInfo& info);

    Type notificationType() const { return type_; }
    const QString& alertBody() const { return alertBody_; }
    bool contentAvailable() const { return contentAvailable_; }
    const QString& subscriptionID() const { return subscriptionID_; }
    // Query notifications only.
    const RecordID& recordID() const { return recordID_; }
    int queryNotificationReason() const { return reason_; }

private:
    Type type_ = TypeUnknown;
    QString alertBody_;
    bool contentAvailable_ = false;
    QString subscriptionID_;
    RecordID recordID_;
    int reason_ = 0;
};
