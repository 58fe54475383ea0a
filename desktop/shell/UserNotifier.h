#pragma once

#include <QString>

// Desktop notifications through the session bus's notification server, with the default sound.
// Without a server the notification is logged instead; the caller never waits.
namespace UserNotifier {

void notifyTitle(const QString& title, const QString& message);

} // namespace UserNotifier
