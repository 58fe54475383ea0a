#include "Folders.h"
#include "shell/AppDelegate.h"
#include "shell/DesktopRegistration.h"
#include "shell/SingleInstance.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Folders::applyApplicationIdentity();
    if (app.arguments().contains(QStringLiteral("--register"))) {
        QString failure;
        if (DesktopRegistration::registerForUser(QCoreApplication::applicationFilePath(), &failure))
            return 0;
        std::fprintf(stderr, "brindlewick: %s\n", qPrintable(failure));
        return 1;
    }
    SingleInstance instance;
    if (!instance.claim()) {
        if (instance.send(SingleInstance::currentMessage()))
            return 0;
        std::fprintf(stderr, "brindlewick: the running instance does not answer\n");
        return 1;
    }
    AppDelegate delegate;
    QObject::connect(&instance, &SingleInstance::messageReceived, &delegate, &AppDelegate::handleInstanceMessage);
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
