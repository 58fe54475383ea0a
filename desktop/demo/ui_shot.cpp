// Renders named interface scenes to PNG files off screen.
//   ui_shot --list
//   ui_shot SCENE OUT.png [SCENE OUT.png ...]
#include "UiScenes.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args == QStringList{QStringLiteral("--list")}) {
        for (const QString& name : UiScenes::names())
            std::printf("%s\n", qPrintable(name));
        return 0;
    }
    if (args.isEmpty() || args.size() % 2) {
        std::fprintf(stderr, "usage: ui_shot --list | SCENE OUT.png [SCENE OUT.png ...]\n");
        return 2;
    }
    for (qsizetype i = 0; i < args.size(); i += 2) {
        const std::unique_ptr<QWidget> scene = UiScenes::build(args[i]);
        if (!scene) {
            std::fprintf(stderr, "unknown scene %s (see --list)\n", qPrintable(args[i]));
            return 2;
        }
        if (!scene->grab().save(args[i + 1])) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(args[i + 1]));
            return 1;
        }
    }
    return 0;
}
