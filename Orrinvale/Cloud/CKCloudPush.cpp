#include "StoreCKCloud.h"

#include "NoteRecord.h"

#include "Log.h"
#include "Notification.h"
#include "PushCenter.h"
#include "RecordStoreError.h"
#include "UserDefaults.h"

#include <QCoreApplication>

#include <mutex>

namespace {

const QString SubscribedKey = QStringLiteral("subscribed");
const QString CommitAlert = QStringLiteral("NOTE_DID_COMMIT");

void answer(const CKCloud::ErrorBlock& block, const Error& error)
{
    if (block)
        block(error);
}

bool holds(const QVariantMap& map, const QString& key, QMetaType::Type type)
{
    return !map.contains(key) || map.value(key).typeId() == type;
}

// Every part of the push that is there has the type a push gives it.
bool isWellFormed(const QVariantMap& userInfo)
{
    if (!userInfo.contains(QStringLiteral("ck")) || !holds(userInfo, QStringLiteral("ck"), QMetaType::QVariantMap)
        || !holds(userInfo, QStringLiteral("aps"), QMetaType::QVariantMap))
        return false;
    const QVariantMap aps = userInfo.value(QStringLiteral("aps")).toMap();
    const QVariantMap ck = userInfo.value(QStringLiteral("ck")).toMap();
    if (!holds(aps, QStringLiteral("alert"), QMetaType::QString)
        || !holds(ck, QStringLiteral("qry"), QMetaType::QVariantMap))
        return false;
    const QVariantMap query = ck.value(QStringLiteral("qry")).toMap();
    return holds(query, QStringLiteral("rid"), QMetaType::QString)
        && holds(query, QStringLiteral("zid"), QMetaType::QString);
}

} // namespace

// --- Subscription

void StoreCKCloud::subscribeUsingBlock(ErrorBlock block)
{
    UserDefaults* const defaults = configuration_.defaults;
    const auto subscribed = [defaults, block] {
        defaults->setBool(true, SubscribedKey);
        defaults->synchronize();
        answer(block, Error());
    };
    queue_->async([this, block, subscribed] {
        Error error;
        const auto db = database(&error);
        if (!db) {
            LogError("ckcloud:subscribe error %1: %2", "subscribeUsingBlock:", error.localizedDescription());
            return answer(block, error);
        }
        db->fetchAllSubscriptions([db, block, subscribed](QList<Subscription> found, Error) {
            if (!found.isEmpty()) {
                LogInfo("ckcloud:subscribe existed (%1)", qint64(found.size()));
                return subscribed();
            }
            Subscription subscription;
            subscription.recordType = NoteRecord::RecordType;
            subscription.predicate = Predicate::alwaysTrue();
            subscription.options = Subscription::FiresOnRecordCreation | Subscription::FiresOnRecordUpdate;
            subscription.notificationInfo.shouldSendContentAvailable = true;
            db->saveSubscription(subscription, [block, subscribed](std::optional<Subscription> saved, Error error) {
                if (saved && !saved->subscriptionID.isEmpty()) {
                    LogInfo("ckcloud:subscribe ok %1", saved->subscriptionID);
                    return subscribed();
                }
                LogError("ckcloud:subscribe error %1: %2", "subscribeUsingBlock:", error.localizedDescription());
                answer(block, error);
            });
        });
    });
}

void StoreCKCloud::unsubscribeUsingBlock(ErrorBlock block)
{
    UserDefaults* const defaults = configuration_.defaults;
    // Reports once every deletion has answered, with the first failure.
    const auto finish = [defaults, block](qsizetype count, const Error& error) {
        if (error.isNull()) {
            LogInfo("ckcloud:unsubscribe ok (%1)", qint64(count));
            defaults->removeObject(SubscribedKey);
            defaults->synchronize();
        }
        answer(block, error);
    };
    queue_->async([this, block, finish] {
        Error error;
        const auto db = database(&error);
        if (!db) {
            LogError("ckcloud:unsubscribe error %1: %2", "unsubscribeUsingBlock:", error.localizedDescription());
            return answer(block, error);
        }
        db->fetchAllSubscriptions([db, finish](QList<Subscription> found, Error) {
            if (found.isEmpty())
                return finish(0, Error());
            struct Pending {
                std::mutex mutex;
                qsizetype left;
                Error first;
            };
            auto pending = std::make_shared<Pending>();
            pending->left = found.size();
            const qsizetype count = found.size();
            for (auto it = found.crbegin(); it != found.crend(); ++it) {
                db->deleteSubscription(it->subscriptionID, [pending, finish, count](QString, Error error) {
                    std::unique_lock lock(pending->mutex);
                    if (!error.isNull()) {
                        LogError("ckcloud:unsubscribe error %1: %2", "unsubscribeUsingBlock:",
                                 error.localizedDescription());
                        if (pending->first.isNull())
                            pending->first = error;
                    }
                    if (--pending->left > 0)
                        return;
                    const Error first = pending->first;
                    lock.unlock();
                    finish(count, first);
                });
            }
        });
    });
}

void CKCloud::registerUserNotification()
{
    PushCenter::shared()->registerForRemoteNotifications();
}

void CKCloud::unregisterUserNotification()
{
    PushCenter::shared()->unregisterForRemoteNotifications();
}

// --- Pushes

bool StoreCKCloud::handleRemoteNotification(const QVariantMap& userInfo)
{
    if (!quickCloudCheck())
        return false;
    if (!isWellFormed(userInfo)) {
        LogError("ckcloud:push error malformed notification");
        return false;
    }
    const Notification notification = Notification::fromRemoteNotificationDictionary(userInfo);
    const QString& alert = notification.alertBody();
    if ((!alert.isEmpty() && alert != CommitAlert) || notification.notificationType() != Notification::TypeQuery)
        return false;
    _reloadNoteWithRecordID(notification.recordID(), {});
    return true;
}

// --- Error texts

QString CKCloud::localizedErrorString(const Error& error)
{
    static const char* const texts[] = {
        QT_TRANSLATE_NOOP("CKCloud", "Internal Error"),
        QT_TRANSLATE_NOOP("CKCloud", "Partial Failure"),
        QT_TRANSLATE_NOOP("CKCloud", "Network Unavailable"),
        QT_TRANSLATE_NOOP("CKCloud", "Network Failure"),
        QT_TRANSLATE_NOOP("CKCloud", "Bad Container"),
        QT_TRANSLATE_NOOP("CKCloud", "Service Unavailable"),
        QT_TRANSLATE_NOOP("CKCloud", "Request Rate Limited"),
        QT_TRANSLATE_NOOP("CKCloud", "Missing Entitlement"),
        QT_TRANSLATE_NOOP("CKCloud", "Not Authenticated"),
        QT_TRANSLATE_NOOP("CKCloud", "Permission Failure"),
        QT_TRANSLATE_NOOP("CKCloud", "Unknown Item"),
        QT_TRANSLATE_NOOP("CKCloud", "Invalid Arguments"),
        QT_TRANSLATE_NOOP("CKCloud", "Results Truncated"),
        QT_TRANSLATE_NOOP("CKCloud", "Server Record Changed"),
        QT_TRANSLATE_NOOP("CKCloud", "Server Rejected Request"),
        QT_TRANSLATE_NOOP("CKCloud", "Asset File Not Found"),
        QT_TRANSLATE_NOOP("CKCloud", "Asset File Modified"),
        QT_TRANSLATE_NOOP("CKCloud", "Incompatible Version"),
        QT_TRANSLATE_NOOP("CKCloud", "Constraint Violation"),
        QT_TRANSLATE_NOOP("CKCloud", "Operation Cancelled"),
        QT_TRANSLATE_NOOP("CKCloud", "Change Token Expired"),
        QT_TRANSLATE_NOOP("CKCloud", "Batch Request Failed"),
        QT_TRANSLATE_NOOP("CKCloud", "Zone Busy"),
        QT_TRANSLATE_NOOP("CKCloud", "Bad Database"),
        QT_TRANSLATE_NOOP("CKCloud", "Quota Exceeded"),
        QT_TRANSLATE_NOOP("CKCloud", "Zone Not Found"),
        QT_TRANSLATE_NOOP("CKCloud", "Limit Exceeded"),
        QT_TRANSLATE_NOOP("CKCloud", "User Deleted Zone"),
    };
    const int count = int(std::size(texts));
    if (error.domain != QLatin1String(RecordStoreError::Domain) || error.code < 1 || error.code > count)
        return error.localizedDescription();
    return QCoreApplication::translate("CKCloud", texts[error.code - 1]);
}
