// Converts a Markdown note with the settings' typeface.
//   export_demo --html NOTE.md OUT.html
#include "Export/MarkdownFormatter.h"

#include <QFile>
#include <QGuiApplication>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 4 || QByteArray(argv[1]) != "--html") {
        std::fprintf(stderr, "usage: export_demo --html NOTE.md OUT.html\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QFile in(QString::fromLocal8Bit(argv[2]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[2], qPrintable(in.errorString()));
        return 1;
    }
    const QString page = MarkdownFormatter::htmlForPrintingWithMarkdownText(QString::fromUtf8(in.readAll()));
    QSaveFile out(QString::fromLocal8Bit(argv[3]));
    if (!out.open(QIODevice::WriteOnly) || out.write(page.toUtf8()) < 0 || !out.commit()) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[3], qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
