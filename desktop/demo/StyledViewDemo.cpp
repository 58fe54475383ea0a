// Opens a Markdown file in the styled text view. With --screenshot FILE it renders the view off
// screen, writes a PNG and quits.
//   styled_view_demo NOTE.md [--screenshot out.png] [--theme ID] [--typeface ID] [--size POINTS]
#include "TextView.h"
#include "demo/EditorLook.h"

#include <QApplication>
#include <QFile>
#include <QPixmap>

#include <cstdio>

int main(int argc, char* argv[])
{
    QString path, screenshot;
    ThemeID theme = 0;
    TypefaceID face = 0;
    double size = 16;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const bool hasValue = i + 1 < argc;
        if (arg == "--screenshot" && hasValue)
            screenshot = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--theme" && hasValue)
            theme = QString::fromLocal8Bit(argv[++i]).toLongLong();
        else if (arg == "--typeface" && hasValue)
            face = QString::fromLocal8Bit(argv[++i]).toLongLong();
        else if (arg == "--size" && hasValue)
            size = QString::fromLocal8Bit(argv[++i]).toDouble();
        else
            path = arg;
    }
    if (path.isEmpty()) {
        std::fprintf(stderr, "usage: styled_view_demo NOTE.md [--screenshot out.png] [--theme ID] "
                             "[--typeface ID] [--size POINTS]\n");
        return 2;
    }
    if (!screenshot.isEmpty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
    }
    MarkdownTextStorage storage;
    TextView view;
    view.setTextStorage(&storage);
    applyEditorLook(storage, face, size, theme, &view);
    storage.replaceCharacters({0, 0}, QString::fromUtf8(file.readAll()));
    view.document()->setDocumentMargin(36);
    view.resize(1000, 800);
    view.show();

    if (screenshot.isEmpty())
        return app.exec();
    app.processEvents();
    if (!view.grab().save(screenshot)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(screenshot));
        return 1;
    }
    return 0;
}
