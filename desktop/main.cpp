#include "Folders.h"
#include "InterimShell.h"
#include "kit/Responder.h"
#include "shell/RootWindow.h"

#include "Core.h"

#include <QApplication>

namespace {

// Until the application delegate arrives, Quit is the one application-wide command.
class QuitResponder : public Responder {
public:
    QuitResponder() { addHandler(Selector("terminate:"), [](QObject*) { QApplication::quit(); }); }
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Folders::applyApplicationIdentity();

    QuitResponder quit;
    ResponderChain::setApplicationDelegate(&quit);
    RootWindow window;
    window.setWindowTitle(Folders::displayName());
    window.applyTheme(Core::shared().colorTheme(), false);
    auto* shell = new InterimShell;
    window.setContentViewController(shell);
    shell->start();
    window.resize(1100, 720);
    window.show();
    return app.exec();
}
