#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

class Core;
class UserDefaults;

// The five settings a "brindlewick://settings?key=value" link may change. Each change goes to Core,
// then the user default, then a notification; it is logged too, since any web page can send such a
// link. Push subscription changes only once the cloud call succeeded.
class SettingsSwitch {
public:
    struct Hooks {
        std::function<void(const QString& title, const QString& message)> notify;
        // A warning sheet on the main window.
        std::function<void(const QString& message, const QString& informative)> showError;
    };

    SettingsSwitch(Core& core, UserDefaults& defaults, Hooks hooks);

    using Parameter = QPair<QString, QString>;

    // A link's raw key and value pairs, in order; unknown keys change nothing. A setting named
    // more than once takes its last value: each setting changes and is notified once, and the
    // defaults file is written once for the whole link.
    void apply(const QList<Parameter>& parameters);
    // "Settings" titled "<name> Activated" or "<name> Disabled".
    void notifySettings(const QString& name, bool enabled) const;

private:
    void changePushNotification(bool on);

    Core& core_;
    UserDefaults& defaults_;
    Hooks hooks_;
};
