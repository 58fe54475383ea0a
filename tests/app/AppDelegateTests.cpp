#include "AppTestSupport.h"

#include "shell/AppDelegate.h"
#include "shell/RootViewController.h"
#include "shell/RootWindow.h"

#include "panes/NoteTextView.h"
#include "panes/NoteViewController.h"

#include "Dispatch.h"
#include "PushCenter.h"
#include "PushSource.h"
#include "RecordStoreError.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "Store/Migrator.h"
#include "VGFileLogger.h"
#include "VGLog.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTest>

namespace {

// A record store's push side that the test drives by hand.
class HandPushSource : public PushSource {
public:
    void startPush(Deliver deliver, Registered registered) override
    {
        deliver_ = std::move(deliver);
        registered(QByteArray("token"), Error());
    }
    void stopPush(bool) override { deliver_ = {}; }
    void push(const QVariantMap& dictionary) const { deliver_(dictionary); }

private:
    Deliver deliver_;
};

class ShellAppDelegate : public ::testing::Test {
protected:
    void SetUp() override
    {
        Core::shared().setEnabledAppleCloud(true);
        Core::shared().setEnabledPushNotification(true);
        defaults().setInteger(1, "macguide");
        for (const char* key : {"selectedStorage", "selectedTag", "pushnote"})
            defaults().removeObject(QString::fromLatin1(key));
    }
    void TearDown() override
    {
        app.reset();
        Dispatch::waitUntilIdle();
    }

    static UserDefaults& defaults() { return UserDefaults::standard(); }
    static RecordingCloud& cloud() { return RecordingCloud::shared(); }

    // Starts up and lets the list load its first rows; the cloud's log starts afresh.
    void launch()
    {
        app = std::make_unique<AppDelegate>();
        app->applicationDidFinishLaunching();
        ASSERT_TRUE(QTest::qWaitFor([&] { return root()->hasLoadedList(); }, 5000));
        Dispatch::waitUntilIdle();
        cloud().mark();
    }
    RootViewController* root() { return app->rootController(); }
    QString state()
    {
        return QStringLiteral("%1 %2 \"%3\"").arg(root()->selectedStorage()).arg(root()->selectedTag(), root()->searchField()->text());
    }

    std::unique_ptr<AppDelegate> app;
};

// The first launch of a store left by an older version: the loggers catch start-up's first line,
// the migration raises the layout, the notes already on disk are indexed; the intro shows once. A
// notification with no server to show it is logged.
TEST_F(ShellAppDelegate, TheFirstLaunchLogsMigratesIndexesAndShowsTheIntroOnce)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", QFile::encodeName("unix:path=" + TestSupport::home() + "/no-bus"));
    defaults().removeObject("macguide");
    defaults().setInteger(Migrator::CurrentLevel - 1, "migrate");
    TestSupport::writeFile(Note::documentDirectoryForStorage(NoteStorageInbox) + "/Left.txt", "Left\nby an older version #legacy");
    launch();
    EXPECT_EQ(defaults().integerForKey("migrate"), Migrator::CurrentLevel);
    EXPECT_TRUE(QFileInfo::exists(Note::metaFileForTag(NoteTagHashtag, "legacy"))) << "the note on disk was not indexed";
    const std::shared_ptr<VGFileLogger> logger = AppDelegate::fileLogger();
    ASSERT_TRUE(logger);
    app->notifyTitle("Settings", "Calculator Disabled");
    VGLog::flushLog();
    const QByteArray log = TestSupport::readFile(logger->currentLogFileInfo().filePath());
    EXPECT_TRUE(log.contains("appdelegate:migrate.."));
    EXPECT_TRUE(log.contains("notification not shown (no session bus): Settings: Calculator Disabled"));
    EXPECT_EQ(logger->maximumFileSize(), 1048576u);
    EXPECT_EQ(logger->rollingFrequency(), 86400.0);
    EXPECT_EQ(logger->logFileManager()->maximumNumberOfLogFiles(), 3u);

    EXPECT_TRUE(app->rootWindow()->isVisible());
    ASSERT_TRUE(app->introWindow());
    EXPECT_TRUE(app->introWindow()->isVisible());
    EXPECT_EQ(defaults().integerForKey("macguide"), 1);
    QWidget* intro = app->introWindow();
    app->showIntro();
    EXPECT_EQ(app->introWindow(), intro) << "a second intro window";
    launch();
    EXPECT_FALSE(app->introWindow());
}

// The intro leaves the keys to the main window: the first key there closes it and goes on to the
// editor, but Return, which stands for "Get Started", and a modifier on its own, which waits; a
// shortcut closes it too.
TEST_F(ShellAppDelegate, TheIntroClosesOnTheFirstKeyOfTheMainWindowAndHandsItOn)
{
    launch();
    NoteTextView* editor = root()->noteController()->textView();
    const std::tuple<Qt::Key, Qt::KeyboardModifiers, QString> cases[] = {
        {Qt::Key_X, {}, "x"}, {Qt::Key_Return, {}, ""}, {Qt::Key_Space, {}, " "}, {Qt::Key_N, Qt::ControlModifier, ""}};
    for (const auto& [key, modifiers, typed] : cases) {
        SCOPED_TRACE(key);
        root()->noteController()->newNoteDidTapFromMenu();
        editor->setFocus();
        app->showIntro();
        QPointer<QWidget> intro = app->introWindow();
        ASSERT_TRUE(intro && intro->isVisible());
        EXPECT_NE(QApplication::focusWidget(), intro->focusWidget()) << "the intro took the keys";
        QTest::keyClick(editor, Qt::Key_Shift);
        EXPECT_TRUE(intro->isVisible()) << "closed on Shift alone";
        QTest::keyClick(editor, key, modifiers);
        EXPECT_TRUE(intro.isNull() || !intro->isVisible());
        EXPECT_FALSE(app->introWindow());
        EXPECT_EQ(editor->string(), typed);
    }
}

TEST_F(ShellAppDelegate, ActivationPushesAndQuitReachTheCloudInOrder)
{
    launch();
    const std::tuple<bool, bool, bool, QStringList> cases[] = { // iCloud, push, fetched
        {true, true, true, {"startQuery", "fetch", "optimize", "subscribe"}},
        {true, true, false, {"startQuery", "fetch", "subscribe"}},
        {true, false, true, {"startQuery", "fetch", "optimize"}},
        {false, true, true, {}},
    };
    for (const auto& [iCloud, push, fetched, calls] : cases) {
        cloud().mark();
        cloud().records->result = fetched;
        Core::shared().setEnabledAppleCloud(iCloud);
        Core::shared().setEnabledPushNotification(push);
        app->applicationWillBecomeActive();
        EXPECT_EQ(cloud().calls(), calls) << iCloud << push << fetched;
    }

    cloud().mark();
    auto source = std::make_shared<HandPushSource>();
    PushCenter::shared()->addSource(source);
    PushCenter::shared()->registerForRemoteNotifications();
    source->push({{"id", "A"}});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !cloud().calls().isEmpty(); }, 2000));
    EXPECT_FALSE(defaults().boolForKey("failednotification"));
    PushCenter::shared()->unregisterForRemoteNotifications();
    PushCenter::shared()->removeSource(source.get());
    app->applicationWillTerminate();
    app->applicationWillTerminate();
    EXPECT_EQ(cloud().calls(), QStringList({"push", "stopQuery"}));
}

TEST_F(ShellAppDelegate, LaunchFilesAndLinksWaitForTheFirstListLoadLaterLinksApplyAtOnce)
{
    TestSupport::writeFile(TestSupport::home() + "/From outside.md", "Brought in at launch\n");
    TestSupport::writeFile(TestSupport::home() + "/By link.md", "Brought in by a link\n");
    app = std::make_unique<AppDelegate>();
    app->rootWindow()->show();
    app->handleInstanceMessage({{"brindlewick", "brindlewick://archive?launch", "-x", "From outside.md", QString::fromLatin1(QUrl::fromLocalFile(TestSupport::home() + "/By link.md").toEncoded())}, TestSupport::home(), ""});
    EXPECT_FALSE(root()->hasLoadedList());
    EXPECT_NE(root()->selectedStorage(), NoteStorageArchive) << "applied before the list loaded";
    ASSERT_TRUE(QTest::qWaitFor([&] { return root()->hasLoadedList(); }, 5000));
    Dispatch::waitUntilIdle();
    EXPECT_EQ(state(), "2  \"launch\"");
    QStringList texts;
    const QDir inbox(Note::documentDirectoryForStorage(NoteStorageInbox));
    for (const QString& name : inbox.entryList(QDir::Files))
        texts << QString::fromUtf8(TestSupport::readFile(inbox.filePath(name)));
    EXPECT_TRUE(texts.contains("Brought in at launch\n")) << qPrintable(texts.join("|"));
    EXPECT_TRUE(texts.contains("Brought in by a link\n")) << qPrintable(texts.join("|"));

    // Once loaded, links apply at once; which link means what is the parser's.
    const std::pair<const char*, const char*> links[] = {
        {"brindlewick://mention/Anna?plans", "5 anna \"plans\""},
        {"brindlewick://foo", "5 anna \"plans\""},
        {"brindlewick://inbox", "1  \"\""},
    };
    for (const auto& [url, state] : links) {
        app->handleURLEvent(QString::fromUtf8(url));
        Dispatch::waitUntilIdle();
        EXPECT_EQ(this->state(), QString::fromUtf8(state)) << url;
    }
}

TEST_F(ShellAppDelegate, AFailedPushSwitchShowsASheetAndChangesNothing)
{
    launch();
    cloud().records->subscribeError = Error::make(RecordStoreError::Domain, RecordStoreError::NotAuthenticated, "no");
    Core::shared().setEnabledPushNotification(false);
    app->handleURLEvent("brindlewick://settings?pushnote=on");
    Dispatch::waitUntilIdle();
    QMessageBox* sheet = app->rootWindow()->findChild<QMessageBox*>();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->text() + ": " + sheet->informativeText(), "Subscribe Error: Not Authenticated");
    EXPECT_EQ(sheet->icon(), QMessageBox::Warning);
    EXPECT_FALSE(Core::shared().enabledPushNotification());
    sheet->close();
}

TEST_F(ShellAppDelegate, ClosingTheWindowRunsTheQuitSequenceAndTheFrameComesBack)
{
    launch();
    app->rootWindow()->resize(900, 650);
    bool terminated = false;
    root()->setTerminate([&] { terminated = true; });
    EXPECT_FALSE(app->rootWindow()->close()) << "the close waits for the quit sequence";
    EXPECT_FALSE(app->rootWindow()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return terminated; }, 5000));
    EXPECT_TRUE(cloud().calls().contains("wait")) << qPrintable(cloud().calls().join(","));
    app->applicationWillTerminate();
    launch();
    EXPECT_EQ(app->rootWindow()->size(), QSize(900, 650));
}

} // namespace
