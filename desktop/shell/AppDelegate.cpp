#include "AppDelegate.h"

#include "HelpLinks.h"
#include "HelpMail.h"
#include "IntroKeys.h"
#include "IntroPlacement.h"
#include "RootViewController.h"
#include "RootWindow.h"
#include "SettingsSwitch.h"
#include "SignalPipe.h"
#include "SyncDialog.h"
#include "URLCommand.h"
#include "UserNotifier.h"

#include "kit/Alert.h"

#include "CloudSetup.h"
#include "Core.h"
#include "Dispatch.h"
#include "Folders.h"
#include "Log.h"
#include "NoteFolderWatch.h"
#include "PushCenter.h"
#include "Store/Migrator.h"
#include "UserDefaults.h"
#include "VGASLLogger.h"
#include "VGFileLogger.h"
#include "VGTTYLogger.h"

#include <QApplication>
#include <QEvent>
#include <QDir>
#include <QScreen>
#include <QVBoxLayout>

#include <csignal>

namespace {

const QString GuideKey = QStringLiteral("macguide");
const QString FailedNotificationKey = QStringLiteral("failednotification");
const QString FrameKey = QStringLiteral("brindlewick-root-v1");

std::shared_ptr<VGFileLogger>& installedFileLogger()
{
    static std::shared_ptr<VGFileLogger> logger;
    return logger;
}

} // namespace

// The push center's answers, on the main queue, for as long as the delegate lives.
class AppDelegate::PushRelay : public PushCenterDelegate {
public:
    explicit PushRelay(AppDelegate* app) : app_(app) {}
    void didRegister(const QByteArray&) override
    {
        UserDefaults::standard().setBool(false, FailedNotificationKey);
        UserDefaults::standard().synchronize();
        LogInfo("appdelegate:remotenotification ok");
    }
    void didFail(const Error& error) override
    {
        UserDefaults::standard().setBool(true, FailedNotificationKey);
        UserDefaults::standard().synchronize();
        LogError("appdelegate:remotenotification failed: %1", error.localizedDescription());
    }
    void didReceive(const QVariantMap& dictionary) override
    {
        if (app_)
            app_->handleRemoteNotification(dictionary);
    }

private:
    QPointer<AppDelegate> app_;
};

AppDelegate::AppDelegate(Configuration configuration, QObject* parent)
    : QObject(parent), configuration_(std::move(configuration)), pushRelay_(std::make_shared<PushRelay>(this))
{
    Core::Configuration core;
    core.makeAppleCloud = configuration_.makeAppleCloud ? configuration_.makeAppleCloud : CloudSetup::makeAppleCloud;
    Core::configure(std::move(core));
    addActions();
    ResponderChain::setApplicationDelegate(this);
    // Quitting always runs the quit sequence, never just the last window's close.
    qApp->setQuitOnLastWindowClosed(false);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
    connect(qApp, &QGuiApplication::commitDataRequest, this, &AppDelegate::applicationWillTerminate);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            applicationWillBecomeActive();
    });
    signals_ = std::make_unique<SignalPipe>(std::initializer_list<int>{SIGTERM, SIGINT});
    connect(signals_.get(), &SignalPipe::received, this, [](int signal) {
        LogInfo("appdelegate:signal %1, quitting", signal);
        QCoreApplication::quit();
    });
    PushCenter::shared()->setDelegate(pushRelay_);
}

AppDelegate::~AppDelegate()
{
    if (ResponderChain::applicationDelegate() == this)
        ResponderChain::setApplicationDelegate(nullptr);
    delete introWindow_;
}

void AppDelegate::addActions()
{
    addHandler(Selector("terminate:"), [this](QObject*) { quitApp(); });
    addHandler(Selector("showGuide:"), [this](QObject*) { showIntro(); });
    addHandler(Selector("showSyncSettings:"), [this](QObject*) { SyncDialog::present(rootWindow()); });
    addHandler(Selector("showReportABug:"), [this](QObject*) { showBugReportWithMessage(QString()); });
    addHandler(Selector("showSendUsAMessage:"), [](QObject*) { HelpLinks::openURL(HelpMail::feedbackURL()); });
    addHandler(Selector("showAcknowledgement:"), [](QObject*) {
        HelpLinks::openURL(QUrl::fromLocalFile(HelpLinks::resourcePath(QStringLiteral("Acknowledgement.pdf"))));
    });
    for (const HelpLinks::Page& page : HelpLinks::pages())
        addHandler(Selector(page.action), [url = QUrl(QString::fromLatin1(page.url))](QObject*) { HelpLinks::openURL(url); });
}

// --- Start-up, activation and quit

void AppDelegate::installLoggers()
{
    if (installedFileLogger())
        return;
    VGLog::addLogger(VGASLLogger::sharedInstance());
    VGLog::addLogger(VGTTYLogger::sharedInstance());
    auto file = std::make_shared<VGFileLogger>();
    file->setMaximumFileSize(LogFileSize);
    file->setRollingFrequency(LogRollingSeconds);
    file->logFileManager()->setMaximumNumberOfLogFiles(LogFileCount);
    VGLog::addLogger(file);
    installedFileLogger() = file;
}

std::shared_ptr<VGFileLogger> AppDelegate::fileLogger()
{
    return installedFileLogger();
}

// Links and files reach this object through the one-instance channel and the launch's arguments.
void AppDelegate::applicationDidFinishLaunching()
{
    installLoggers();
    LogInfo("appdelegate:migrate..");
    Migrator::migrateInMainThread();
    Core::shared().buildTagLinkAndIndexFiles();
    folderWatch_ = NoteFolderWatch::create(Core::shared());
    if (!folderWatch_->start())
        LogError("appdelegate:no watch on %1", Core::shared().documentDirectory());
    rootWindow()->show();
    UserDefaults& defaults = UserDefaults::standard();
    if (defaults.integerForKey(GuideKey) < 1) {
        defaults.setInteger(1, GuideKey);
        defaults.synchronize();
        showIntro();
    }
    openArguments(QCoreApplication::arguments().mid(1), QDir::currentPath());
    if (QGuiApplication::applicationState() == Qt::ApplicationActive)
        applicationWillBecomeActive();
}

void AppDelegate::applicationWillBecomeActive()
{
    CloudSetup::activate(Core::shared());
}

void AppDelegate::quitApp()
{
    quitting_ = true;
    // Saving waits for the file queue: no further indexing batch comes before it.
    Core::shared().stopIndexing();
    rootController()->terminateApp();
}

void AppDelegate::applicationWillTerminate()
{
    if (std::exchange(terminated_, true))
        return;
    Core::shared().stopIndexing();
    saveWindowFrame();
    if (rootWindow_)
        rootController()->applicationWillTerminate();
    if (folderWatch_)
        folderWatch_->stop();
    Core::shared().appleCloud()->stopQuery();
}

// Closing the main window quits, with the same cloud drain as the quit command.
bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == rootWindow_.get() && event->type() == QEvent::Close && !quitting_) {
        event->ignore();
        quitApp();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// --- Files and links

void AppDelegate::handleInstanceMessage(const SingleInstance::Message& message)
{
    if (!message.activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", message.activationToken.toUtf8());
    RootWindow* window = rootWindow();
    window->show();
    window->raise();
    window->activateWindow();
    openArguments(message.argv.mid(1), message.cwd);
}

void AppDelegate::openArguments(const QStringList& arguments, const QString& cwd)
{
    for (const QString& argument : arguments) {
        if (argument.startsWith(QLatin1Char('-')))
            continue;
        if (argument.contains(QStringLiteral("://")) || argument.startsWith(QStringLiteral("file:")))
            handleURLEvent(argument);
        else
            openFile(QDir(cwd).absoluteFilePath(argument));
    }
}

void AppDelegate::handleURLEvent(const QString& url)
{
    const URLCommand command = URLCommand::parse(url);
    switch (command.kind) {
    case URLCommand::Kind::Nothing:
        return;
    case URLCommand::Kind::Guide:
        return showIntro();
    case URLCommand::Kind::SelectStorage:
        return whenReady([this, command] {
            rootController()->selectStorage(command.storage, command.tag);
            rootController()->queryNote(command.query);
        });
    case URLCommand::Kind::BugReport:
        DispatchQueue::main()->async([self = QPointer(this), message = command.query] {
            if (self)
                self->showBugReportWithMessage(message);
        });
        return;
    case URLCommand::Kind::Settings:
        settings().apply(command.parameters);
        return;
    case URLCommand::Kind::OpenFile:
        return openFile(command.filePath);
    }
}

SettingsSwitch& AppDelegate::settings()
{
    if (!settings_) {
        settings_ = std::make_unique<SettingsSwitch>(
            Core::shared(), UserDefaults::standard(),
            SettingsSwitch::Hooks{[this](const QString& title, const QString& text) { notifyTitle(title, text); },
                                  [self = QPointer(this)](const QString& message, const QString& informative) {
                                      if (self)
                                          self->showWarningSheet(message, informative);
                                  }});
    }
    return *settings_;
}

void AppDelegate::showWarningSheet(const QString& message, const QString& informative)
{
    Alert alert;
    alert.setMessageText(message);
    alert.setInformativeText(informative);
    alert.setStyle(Alert::Style::Warning);
    alert.addButton(tr("Close"));
    alert.beginSheetModal(rootWindow(), {});
}

void AppDelegate::openFile(const QString& path)
{
    whenReady([this, path] { rootController()->openFile(path); });
}

// A file or link given at launch must not reach a list that has not loaded yet.
void AppDelegate::whenReady(std::function<void()> block)
{
    if (rootController()->hasLoadedList())
        return block();
    pending_.append(std::move(block));
}

void AppDelegate::handleRemoteNotification(const QVariantMap& userInfo)
{
    Core::shared().appleCloud()->handleRemoteNotification(userInfo);
}

// --- Windows

RootWindow* AppDelegate::rootWindow()
{
    if (rootWindow_)
        return rootWindow_.get();
    rootWindow_ = std::make_unique<RootWindow>();
    rootWindow_->setWindowTitle(Folders::displayName());
    auto* root = new RootViewController(Core::shared());
    rootWindow_->setContentViewController(root);
    rootWindow_->setDelegate(this);
    rootWindow_->installEventFilter(this);
    if (!rootWindow_->restoreGeometry(UserDefaults::standard().dataForKey(FrameKey)))
        rootWindow_->resize(1100, 720);
    connect(root, &RootViewController::listDidLoad, this, [this] {
        for (const std::function<void()>& block : std::exchange(pending_, {}))
            block();
    });
    return rootWindow_.get();
}

RootViewController* AppDelegate::rootController()
{
    return static_cast<RootViewController*>(rootWindow()->contentViewController());
}

void AppDelegate::saveWindowFrame()
{
    if (!rootWindow_)
        return;
    UserDefaults::standard().setData(rootWindow_->saveGeometry(), FrameKey);
    UserDefaults::standard().synchronize();
}

void AppDelegate::showIntro()
{
    if (introWindow_) {
        introWindow_->raise();
        return;
    }
    // Over the main window, which keeps the keys.
    auto* window = new QWidget(rootWindow(), Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    new IntroKeys(*window, *rootWindow(), [this] { dismissIntro(); });
    window->setWindowTitle(Folders::displayName());
    auto* controller = new IntroViewController(window);
    controller->setDelegate(this);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(controller->view());
    const QScreen* screen = QGuiApplication::primaryScreen();
    window->setGeometry(introFrame(screen ? screen->geometry() : QRect()));
    introWindow_ = window;
    window->show();
}

void AppDelegate::dismissIntro()
{
    rootWindow()->activateWindow();
    if (QWidget* window = introWindow_.data()) {
        introWindow_.clear();
        window->close();
    }
}

void AppDelegate::introControllerDismissDidTap(IntroViewController&)
{
    dismissIntro();
}

void AppDelegate::introControllerDidTryQuickOpen(IntroViewController&)
{
    dismissIntro();
    rootController()->openQuickly();
}

void AppDelegate::windowWillEnterFullScreen(Window&)
{
    rootController()->windowWillEnterFullScreen();
}

void AppDelegate::windowDidEnterFullScreen(Window&)
{
    rootController()->windowDidEnterFullScreen();
}

void AppDelegate::windowWillExitFullScreen(Window&)
{
    rootController()->windowWillExitFullScreen();
}

void AppDelegate::windowDidExitFullScreen(Window&)
{
    rootController()->windowDidExitFullScreen();
}

// --- Help

void AppDelegate::showBugReportWithMessage(const QString& message)
{
    HelpLinks::openURL(HelpMail::problemReportURL(message));
}

void AppDelegate::notifyTitle(const QString& title, const QString& message)
{
    UserNotifier::notifyTitle(title, message);
}
