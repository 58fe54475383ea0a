#include "Folders.h"
#include "kit/Responder.h"
#include "kit/Window.h"
#include "shell/RootViewController.h"
#include "shell/RootWindow.h"

#include "Core.h"
#include "Store/Migrator.h"

#include <QApplication>

namespace {

// Until the application delegate arrives: Quit runs the window's quit sequence, and the window's
// full-screen transitions reach its controller.
class ShellDelegate : public Responder, public WindowDelegate {
public:
    explicit ShellDelegate(RootViewController& root) : root_(root)
    {
        addHandler(Selector("terminate:"), [this](QObject*) { root_.terminateApp(); });
    }
    void windowWillEnterFullScreen(Window&) override { root_.windowWillEnterFullScreen(); }
    void windowDidEnterFullScreen(Window&) override { root_.windowDidEnterFullScreen(); }
    void windowWillExitFullScreen(Window&) override { root_.windowWillExitFullScreen(); }
    void windowDidExitFullScreen(Window&) override { root_.windowDidExitFullScreen(); }

private:
    RootViewController& root_;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Folders::applyApplicationIdentity();
    Core& core = Core::shared();
    Migrator::migrateInMainThread();
    core.buildTagLinkAndIndexFiles();

    RootWindow window;
    window.setWindowTitle(Folders::displayName());
    auto* root = new RootViewController(core);
    window.setContentViewController(root);
    ShellDelegate delegate(*root);
    ResponderChain::setApplicationDelegate(&delegate);
    window.setDelegate(&delegate);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, root, &RootViewController::applicationWillTerminate);
    window.resize(1100, 720);
    window.show();
    const int status = app.exec();
    ResponderChain::setApplicationDelegate(nullptr);
    return status;
}
