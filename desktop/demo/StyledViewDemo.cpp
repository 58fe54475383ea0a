// Opens a Markdown file in the styled text view. With --screenshot FILE it renders the view off
// screen, writes a PNG and quits. With --edit the keys go through the typing engine, which continues
// lists and quotes and carries out the formatting shortcuts below; --type KEYS types KEYS first ("\n"
// Return, "\t" Tab, "\b" Backspace), so that a screenshot shows what the engine made of them.
//   styled_view_demo NOTE.md [--screenshot out.png] [--theme ID] [--typeface ID] [--size POINTS]
//                            [--edit] [--type KEYS]
#include "TextView.h"
#include "demo/EditorLook.h"
#include "demo/TypingTextView.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QPixmap>
#include <QShortcut>

#include <cstdio>
#include <memory>

namespace {

const struct {
    const char* keys;
    TypewriterAction action;
} shortcuts[] = {
    {"Ctrl+1", TypewriterActionHeading1},    {"Ctrl+2", TypewriterActionHeading2},
    {"Ctrl+3", TypewriterActionHeading3},    {"Ctrl+4", TypewriterActionHeading4},
    {"Ctrl+5", TypewriterActionHeading5},    {"Ctrl+6", TypewriterActionHeading6},
    {"Ctrl+B", TypewriterActionBold},        {"Ctrl+I", TypewriterActionItalic},
    {"Ctrl+Shift+X", TypewriterActionStrikethrough}, {"Ctrl+U", TypewriterActionUnorderedList},
    {"Ctrl+O", TypewriterActionOrderedList}, {"Ctrl+T", TypewriterActionTodoList},
    {"Ctrl+D", TypewriterActionTodoListComplete}, {"Ctrl+K", TypewriterActionAddLink},
    {"Ctrl+[", TypewriterActionShiftLeft},   {"Ctrl+]", TypewriterActionShiftRight},
};

// Each unit of the keys as one keystroke at the selection, as the view's key handling would send it.
void typeKeys(TextView& view, const QString& keys)
{
    for (qsizetype i = 0; i < keys.size(); ++i) {
        QString key(keys[i]);
        if (keys[i] == u'\\' && i + 1 < keys.size()) {
            const QChar escaped = keys[++i];
            key = escaped == u'n' ? QStringLiteral("\n") : escaped == u't' ? QStringLiteral("\t")
                : escaped == u'b' ? QString() : QString(escaped);
        }
        TextRange range = view.selectedRange();
        if (key.isEmpty() && range.length == 0)
            range = {range.location - 1, 1};
        if (range.location >= 0)
            view.changeTextInRanges({range}, {key});
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QString path, screenshot, keys;
    bool edit = false;
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
        else if (arg == "--edit")
            edit = true;
        else if (arg == "--type" && hasValue)
            keys = QString::fromLocal8Bit(argv[++i]);
        else
            path = arg;
    }
    if (path.isEmpty()) {
        std::fprintf(stderr, "usage: styled_view_demo NOTE.md [--screenshot out.png] [--theme ID] "
                             "[--typeface ID] [--size POINTS] [--edit] [--type KEYS]\n");
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
    std::unique_ptr<TypingTextView> typing;
    if (edit || !keys.isEmpty()) {
        typing = std::make_unique<TypingTextView>(view);
        typing->typewriter().setPasteboardReader([] { return QGuiApplication::clipboard()->text(); });
        for (const auto& shortcut : shortcuts) {
            auto* key = new QShortcut(QKeySequence(QString::fromLatin1(shortcut.keys)), &view);
            QObject::connect(key, &QShortcut::activated, &view,
                             [&typing, action = shortcut.action] { typing->runAction(action); });
        }
        view.setSelectedRange({storage.length(), 0});
        typeKeys(view, keys);
    }
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
