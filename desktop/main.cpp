#include "Folders.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Folders::applyApplicationIdentity();

    QMainWindow window;
    window.setWindowTitle(Folders::displayName());
    window.resize(1100, 720);
    window.show();
    return app.exec();
}
