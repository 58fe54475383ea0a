#include "Folders.h"
#include "kit/Responder.h"
#include "shell/RootWindow.h"

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
    window.applyTheme(0, false);
    window.resize(1100, 720);
    window.show();
    return app.exec();
}
