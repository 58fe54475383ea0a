#include "AppTestSupport.h"

#include "shell/SettingsSwitch.h"

#include "Dispatch.h"
#include "RecordStoreError.h"
#include "UserDefaults.h"

#include <gtest/gtest.h>

namespace {

class ShellSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        cloud().clear();
        for (const char* key : {"nosfx", "calculator", "icloud", "pushnote", "noposttemplate"})
            defaults().removeObject(QString::fromLatin1(key));
        core().setEnabledSoundEffect(false);
        core().setEnabledCalculator(true);
        core().setEnabledPushNotification(false);
    }

    static Core& core() { return Core::shared(); }
    static UserDefaults& defaults() { return UserDefaults::standard(); }
    static RecordingCloud& cloud() { return *RecordingCloud::shared(); }

    // Applies a link's parameters and lets the main queue run the cloud's answers.
    void apply(const QList<QPair<QString, QString>>& parameters)
    {
        SettingsSwitch settings(core(), defaults(),
                                {[this](const QString& title, const QString& message) { notes << title + ": " + message; },
                                 [this](const QString& message, const QString& informative) {
                                     errors << message + ": " + informative;
                                 }});
        for (const auto& [key, value] : parameters)
            settings.apply(key, value);
        DispatchQueue::drainMain();
    }

    QStringList notes;
    QStringList errors;
};

TEST_F(ShellSettings, SwitchesCoreThenDefaultsThenNotifiesInOrder)
{
    apply({{"sound", "yes"}, {"calculator", "0"}});
    EXPECT_TRUE(core().enabledSoundEffect());
    EXPECT_FALSE(core().enabledCalculator());
    EXPECT_EQ(defaults().objectForKey("nosfx").toBool(), false);
    EXPECT_TRUE(defaults().objectForKey("nosfx").isValid());
    EXPECT_EQ(defaults().objectForKey("calculator").toBool(), false);
    EXPECT_TRUE(defaults().objectForKey("calculator").isValid());
    EXPECT_EQ(notes, QStringList({"Settings: Sound Effect Activated", "Settings: Calculator Disabled"}));

    apply({{"posttemplate", "off"}, {"icloud", "True"}});
    EXPECT_TRUE(defaults().boolForKey("noposttemplate"));
    EXPECT_FALSE(core().enabledPostTemplate());
    EXPECT_TRUE(defaults().boolForKey("icloud"));
    EXPECT_TRUE(cloud().calls().isEmpty()) << "switching iCloud starts nothing at once";
}

TEST_F(ShellSettings, UnknownKeysAndCaseChangeNothing)
{
    apply({{"volume", "on"}, {"Sound", "on"}, {"sound ", "on"}});
    EXPECT_TRUE(notes.isEmpty());
    EXPECT_FALSE(core().enabledSoundEffect());
    EXPECT_FALSE(defaults().objectForKey("nosfx").isValid());
}

TEST_F(ShellSettings, PushChangesOnlyWhenTheCloudAgrees)
{
    struct Case {
        const char* value;
        int code; // 0: the cloud agrees
        const char* call;
        bool pushAfter;
        const char* shown;
    };
    const Case cases[] = {
        {"on", RecordStoreError::NotAuthenticated, "subscribe", false, "error: Subscribe Error: Not Authenticated"},
        {"on", 0, "subscribe", true, "note: Settings: Push Notification Activated"},
        {"0", RecordStoreError::NetworkUnavailable, "unsubscribe", true, "error: Unsubscribe Error: Network Unavailable"},
        {"0", 0, "unsubscribe", false, "note: Settings: Push Notification Disabled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.code));
        cloud().clear();
        notes.clear();
        errors.clear();
        if (c.code)
            cloud().subscribeError = Error::make(QString::fromLatin1(RecordStoreError::Domain), c.code, "failed");
        const bool before = core().enabledPushNotification();
        apply({{"pushnote", c.value}});
        EXPECT_EQ(cloud().calls(), QStringList{c.call});
        EXPECT_EQ(core().enabledPushNotification(), c.pushAfter);
        EXPECT_EQ(defaults().boolForKey("pushnote"), c.code ? before : c.pushAfter);
        const QString shown = c.code ? "error: " + errors.value(0) : "note: " + notes.value(0);
        EXPECT_EQ(shown, QString::fromUtf8(c.shown));
        EXPECT_EQ(notes.size() + errors.size(), 1);
    }
}

} // namespace
