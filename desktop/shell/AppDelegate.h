#pragma once

#include "kit/Responder.h"
#include "kit/Window.h"
#include "shell/IntroViewController.h"
#include "shell/SingleInstance.h"

#include <QObject>
#include <QPointer>
#include <QVariantMap>

#include <functional>
#include <memory>

class AppleCloud;
class NoteFolderWatch;
class RootViewController;
class RootWindow;
class SettingsSwitch;
class SignalPipe;
class VGFileLogger;

// The application's own object: start-up, activation, quit, one window, the intro, links and files
// from outside, pushes, and the help menu. It is the last responder of every window.
class AppDelegate : public QObject, public Responder, public WindowDelegate, public IntroViewControllerDelegate {
    Q_OBJECT
public:
    struct Configuration {
        // Core's cloud; empty: the sync folder over the record store.
        std::function<std::shared_ptr<AppleCloud>()> makeAppleCloud;
    };
    static constexpr uint64_t LogFileSize = 0x100000;
    static constexpr double LogRollingSeconds = 86400.0;
    static constexpr uint64_t LogFileCount = 3;

    // Configures Core's cloud, unless Core was configured or built before.
    explicit AppDelegate(Configuration configuration = {}, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The start-up sequence, then the launch's own files and links, then activation when active.
    void applicationDidFinishLaunching();
    void applicationWillBecomeActive();
    // Commits the edited note and stops the drive's watch; once.
    void applicationWillTerminate();
    // The quit command: the window's quit sequence with its cloud drain.
    void quitApp();
    bool isQuitting() const { return quitting_; }

    // Files and links from outside; those that arrive before the list has loaded wait for it.
    void handleInstanceMessage(const SingleInstance::Message& message);
    void handleURLEvent(const QString& url);
    void openFile(const QString& path);
    void handleRemoteNotification(const QVariantMap& userInfo);

    RootWindow* rootWindow();
    RootViewController* rootController();
    void showIntro();
    void dismissIntro();
    QWidget* introWindow() const { return introWindow_; }

    void showBugReportWithMessage(const QString& message);
    void notifyTitle(const QString& title, const QString& message);
    // The file logger installed at start-up; null before.
    static std::shared_ptr<VGFileLogger> fileLogger();

    void introControllerDismissDidTap(IntroViewController& controller) override;
    void introControllerDidTryQuickOpen(IntroViewController& controller) override;
    void windowWillEnterFullScreen(Window& window) override;
    void windowDidEnterFullScreen(Window& window) override;
    void windowWillExitFullScreen(Window& window) override;
    void windowDidExitFullScreen(Window& window) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class PushRelay;

    static void installLoggers();
    void addActions();
    // Runs the block now when the list has loaded, else once it has.
    void whenReady(std::function<void()> block);
    void openArguments(const QStringList& arguments, const QString& cwd);
    void saveWindowFrame();
    SettingsSwitch& settings();
    void showWarningSheet(const QString& message, const QString& informative);

    Configuration configuration_;
    std::unique_ptr<RootWindow> rootWindow_;
    QPointer<QWidget> introWindow_;
    std::unique_ptr<SettingsSwitch> settings_;
    std::unique_ptr<SignalPipe> signals_;
    std::shared_ptr<PushRelay> pushRelay_;
    std::shared_ptr<NoteFolderWatch> folderWatch_;
    QList<std::function<void()>> pending_;
    bool quitting_ = false;
    bool terminated_ = false;
};
