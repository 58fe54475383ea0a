#include "Notification.h"

Notification Notification::fromRemoteNotificationDictionary(const QVariantMap& dictionary)
{
    Notification notification;
    const QVariantMap aps = dictionary.value(QStringLiteral("aps")).toMap();
    notification.alertBody_ = aps.value(QStringLiteral("alert")).toString();
    notification.contentAvailable_ = aps.value(QStringLiteral("content-available")).toInt() == 1;

    const QVariantMap query =
        dictionary.value(QStringLiteral("ck")).toMap().value(QStringLiteral("qry")).toMap();
    const QString name = query.value(QStringLiteral("rid")).toString();
    if (name.isEmpty())
        return notification;
    notification.type_ = TypeQuery;
    notification.recordID_.recordName = name;
    const QString zone = query.value(QStringLiteral("zid")).toString();
    if (!zone.isEmpty())
        notification.recordID_.zoneName = zone;
    notification.subscriptionID_ = query.value(QStringLiteral("sid")).toString();
    notification.reason_ = query.value(QStringLiteral("fo")).toInt();
    return notification;
}

QVariantMap Notification::remoteNotificationDictionary(const QString& subscriptionID, const RecordID& recordID,
                                                       Reason reason, const Subscription::NotificationInfo& info)
{
    QVariantMap aps;
    if (info.shouldSendContentAvailable)
        aps.insert(QStringLiteral("content-available"), 1);
    if (!info.alertBody.isEmpty())
        aps.insert(QStringLiteral("alert"), info.alertBody);
    const QVariantMap query {{QStringLiteral("rid"), recordID.recordName},
                             {QStringLiteral("zid"), recordID.zoneName},
                             {QStringLiteral("sid"), subscriptionID},
                             {QStringLiteral("fo"), int(reason)}};
    return {{QStringLiteral("ck"), QVariantMap {{QStringLiteral("qry"), query}}}, {QStringLiteral("aps"), aps}};
}
