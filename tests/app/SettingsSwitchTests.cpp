#include "AppTestSupport.h"

#include "shell/SettingsSwitch.h"

#include "Core.h"
#include "Dispatch.h"
#include "RecordStoreError.h"
#include "UserDefaults.h"

#include "TestSupport.h"

#include <QDir>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

// How many times the folder's file was replaced (as QSettings writes it), from the events so far.
int writesOf(int watch, const QString& name)
{
    int writes = 0;
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t size; (size = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < size;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len && QString::fromUtf8(event->name) == name)
                ++writes;
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    return writes;
}

// A long link takes each setting's last value, notifies it once and writes the defaults file once.
TEST(ShellSettings, ALongLinkWritesTheDefaultsOnce)
{
    const QString folder = TestSupport::home() + "/long-link";
    QDir().mkpath(folder);
    UserDefaults defaults(folder + "/defaults.ini");
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(folder).constData(), IN_MOVED_TO), 0);
    QList<QPair<QString, QString>> link;
    for (int i = 0; i < 10000; ++i)
        link.append(QPair<QString, QString>(i % 2 ? "sound" : "calculator", i % 3 ? "on" : "off"));
    QStringList shown;
    SettingsSwitch settings(Core::shared(), defaults, {[&](const QString& title, const QString& text) { shown << title + ": " + text; }, {}});
    settings.apply(link);
    EXPECT_EQ(writesOf(watch, "defaults.ini"), 1);
    ::close(watch);
    EXPECT_EQ(shown.join('|'), "Settings: Calculator Activated|Settings: Sound Effect Disabled");
    EXPECT_TRUE(defaults.boolForKey("calculator"));
    EXPECT_TRUE(defaults.boolForKey("nosfx"));
}

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
        settings.apply(c.parameters);
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
