#pragma once

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

    // Unknown keys change nothing.
    void apply(const QString& key, const QString& value);
    // "Settings" titled "<name> Activated" or "<name> Disabled".
    void notifySettings(const QString& name, bool enabled) const;

private:
    void changePushNotification(bool on);

    Core& core_;
    UserDefaults& defaults_;
    Hooks hooks_;
};
