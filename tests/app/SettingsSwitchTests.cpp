#include "AppTestSupport.h"

#include "shell/SettingsSwitch.h"

#include "Core.h"
#include "Dispatch.h"
#include "RecordStoreError.h"
#include "UserDefaults.h"

namespace {

// Each link's parameters on a fresh start: Core's state, the defaults written and what was shown.
TEST(ShellSettings, LinksSwitchCoreThenDefaultsThenNotify)
{
    Core& core = Core::shared();
    UserDefaults& defaults = UserDefaults::standard();
    struct Case {
        QList<QPair<QString, QString>> parameters;
        int failure; // what the cloud answers (un)subscribing; 0 agrees
        const char* shown;
        const char* state; // sound calculator push; default nosfx calculator pushnote (- unset)
    };
    const Case cases[] = {
        {{{"sound", "yes"}, {"calculator", "0"}}, 0, "Settings: Sound Effect Activated|Settings: Calculator Disabled", "100 00-"},
        {{{"volume", "on"}, {"Sound", "on"}, {"sound", ""}}, 0, "Settings: Sound Effect Disabled", "010 1--"},
        {{{"posttemplate", "off"}, {"icloud", "True"}}, 0, "Settings: Post Template Disabled|Settings: iCloud Activated", "010 ---"},
        {{{"pushnote", "on"}}, RecordStoreError::NotAuthenticated, "error: Subscribe Error: Not Authenticated", "010 ---"},
        {{{"pushnote", "on"}}, 0, "Settings: Push Notification Activated", "011 --1"},
        {{{"pushnote", "0"}}, RecordStoreError::NetworkUnavailable, "error: Unsubscribe Error: Network Unavailable", "010 ---"},
        {{{"pushnote", "no"}}, 0, "Settings: Push Notification Disabled", "010 --0"},
    };
    for (const Case& c : cases) {
        for (const char* key : {"nosfx", "calculator", "pushnote", "noposttemplate", "icloud"})
            defaults.removeObject(QString::fromLatin1(key));
        core.setEnabledSoundEffect(false);
        core.setEnabledCalculator(true);
        core.setEnabledPushNotification(false);
        RecordingCloud::shared().mark();
        if (c.failure)
            RecordingCloud::shared().records->subscribeError = Error::make(RecordStoreError::Domain, c.failure, "failed");
        QStringList shown;
        SettingsSwitch settings(core, defaults,
                                {[&](const QString& title, const QString& text) { shown << title + ": " + text; },
                                 [&](const QString& message, const QString& detail) { shown << "error: " + message + ": " + detail; }});
        for (const auto& [key, value] : c.parameters)
            settings.apply(key, value);
        DispatchQueue::drainMain();
        const auto flag = [&](const char* key) {
            const QVariant value = defaults.objectForKey(QString::fromLatin1(key));
            return value.isValid() ? QString::number(value.toBool()) : QStringLiteral("-");
        };
        const QString state = QStringLiteral("%1%2%3 %4%5%6")
                                  .arg(core.enabledSoundEffect())
                                  .arg(core.enabledCalculator())
                                  .arg(core.enabledPushNotification())
                                  .arg(flag("nosfx"), flag("calculator"), flag("pushnote"));
        EXPECT_EQ(shown.join('|'), c.shown);
        EXPECT_EQ(state, c.state) << qPrintable(shown.join('|'));
        const bool push = c.parameters.first().first == "pushnote";
        EXPECT_EQ(RecordingCloud::shared().calls().size(), push ? 1 : 0) << "only pushnote calls the cloud at once";
    }
}

} // namespace
