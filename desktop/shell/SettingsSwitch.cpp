#include "SettingsSwitch.h"

#include "URLCommand.h"

#include "Core.h"
#include "Dispatch.h"
#include "Log.h"
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringList>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("AppDelegate", text);
}

struct Setting {
    const char* key;
    void (Core::*set)(bool);
    const char* defaultKey;
    bool defaultIsNegated;
    const char* name;
};

const Setting Settings[] = {
    {"sound", &Core::setEnabledSoundEffect, "nosfx", true, QT_TRANSLATE_NOOP("AppDelegate", "Sound Effect")},
    {"calculator", &Core::setEnabledCalculator, "calculator", false, QT_TRANSLATE_NOOP("AppDelegate", "Calculator")},
    {"icloud", &Core::setEnabledAppleCloud, "icloud", false, QT_TRANSLATE_NOOP("AppDelegate", "iCloud")},
    {"posttemplate", &Core::setEnabledPostTemplate, "noposttemplate", true, QT_TRANSLATE_NOOP("AppDelegate", "Post Template")},
};

const Setting* settingFor(const QString& key)
{
    for (const Setting& setting : Settings) {
        if (key == QLatin1String(setting.key))
            return &setting;
    }
    return nullptr;
}

} // namespace

SettingsSwitch::SettingsSwitch(Core& core, UserDefaults& defaults, Hooks hooks)
    : core_(core), defaults_(defaults), hooks_(std::move(hooks))
{
}

void SettingsSwitch::apply(const QList<Parameter>& parameters)
{
    const QString push = QStringLiteral("pushnote");
    // Each known key once, where the link first names it, with the last value it gives.
    QStringList keys;
    QHash<QString, bool> values;
    for (const auto& [key, value] : parameters) {
        if (key != push && !settingFor(key))
            continue;
        if (!values.contains(key))
            keys.append(key);
        values.insert(key, URLCommand::isOn(value));
    }
    QList<const Setting*> changed;
    for (const QString& key : std::as_const(keys)) {
        const bool on = values.value(key);
        if (key == push) {
            LogInfo("appdelegate:settings link asks pushnote=%1", on);
            changePushNotification(on);
            continue;
        }
        const Setting* setting = settingFor(key);
        LogInfo("appdelegate:settings link sets %1=%2", key, on);
        (core_.*setting->set)(on);
        defaults_.setBool(setting->defaultIsNegated ? !on : on, QString::fromLatin1(setting->defaultKey));
        changed.append(setting);
    }
    if (changed.isEmpty())
        return;
    defaults_.synchronize();
    for (const Setting* setting : std::as_const(changed))
        notifySettings(tr(setting->name), values.value(QLatin1String(setting->key)));
}

void SettingsSwitch::notifySettings(const QString& name, bool enabled) const
{
    hooks_.notify(tr("Settings"), (enabled ? tr("%1 Activated") : tr("%1 Disabled")).arg(name));
}

void SettingsSwitch::changePushNotification(bool on)
{
    // Core and the defaults live as long as the process; the switch itself may be gone by then.
    auto finish = [&core = core_, &defaults = defaults_, hooks = hooks_, on](const Error& error) {
        DispatchQueue::main()->async([&core, &defaults, hooks, on, error] {
            if (!error.isNull()) {
                LogError("appdelegate:settings pushnote=%1 failed: %2", on, error.localizedDescription());
                hooks.showError(on ? tr("Subscribe Error") : tr("Unsubscribe Error"), CKCloud::localizedErrorString(error));
                return;
            }
            defaults.setBool(on, QStringLiteral("pushnote"));
            defaults.synchronize();
            core.setEnabledPushNotification(on);
            SettingsSwitch(core, defaults, hooks).notifySettings(tr("Push Notification"), on);
        });
    };
    if (on)
        core_.appleCloud()->subscribeRemoteNotification(std::move(finish));
    else
        core_.appleCloud()->unsubscribeRemoteNotification(std::move(finish));
}
