#include "UserNotifier.h"

#include "Folders.h"
#include "Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");

void logUnshown(const QString& title, const QString& message, const QString& reason)
{
    LogInfo("appdelegate:notification not shown (%1): %2: %3", reason, title, message);
}

} // namespace

namespace UserNotifier {

void notifyTitle(const QString& title, const QString& message)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        logUnshown(title, message, QStringLiteral("no session bus"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}};
    call << Folders::displayName() << uint(0) << QString() << title << message << QStringList() << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [title, message](QDBusPendingCallWatcher* finished) {
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isError())
            logUnshown(title, message, reply.error().message());
        finished->deleteLater();
    });
}

} // namespace UserNotifier
