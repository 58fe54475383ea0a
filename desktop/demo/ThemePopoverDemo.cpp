// Shows the theme popover and prints every call it makes to its delegate; the choices are kept in
// memory only, so the popover refreshes as in the application. With --fonts the typeface list is
// pushed over it; with --screenshot FILE it renders offscreen, writes a PNG and quits.
//   theme_popover_demo [--theme ID] [--typeface ID] [--fonts] [--screenshot FILE]

#include "theme/ThemeViewController.h"

#include "kit/AnimationContext.h"

#include "Core.h"
#include "Dispatch.h"

#include <QApplication>

#include <cstdio>

namespace {

class PrintingDelegate : public QObject, public ThemeViewControllerDelegate {
public:
    void themeControllerDidSelectTheme(ThemeViewController&, ThemeID theme) override
    {
        std::printf("didSelectTheme %lld\n", static_cast<long long>(theme));
        Core::shared().setColorTheme(theme);
    }
    void themeControllerDidSelectTypeFace(ThemeViewController&, TypefaceID typeface) override
    {
        std::printf("didSelectTypeFace %lld\n", static_cast<long long>(typeface));
        Core::shared().setTypeFace(typeface);
    }
    void themeControllerDidTapSmallerFontSize(ThemeViewController&) override { std::printf("didTapSmallerFontSize\n"); }
    void themeControllerDidTapLargerFontSize(ThemeViewController&) override { std::printf("didTapLargerFontSize\n"); }
};

} // namespace

int main(int argc, char* argv[])
{
    QString screenshot;
    qint64 theme = -1, typeface = -1;
    bool fonts = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const bool hasValue = i + 1 < argc;
        if (arg == "--screenshot" && hasValue)
            screenshot = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--theme" && hasValue)
            theme = QString::fromLocal8Bit(argv[++i]).toLongLong();
        else if (arg == "--typeface" && hasValue)
            typeface = QString::fromLocal8Bit(argv[++i]).toLongLong();
        else if (arg == "--fonts")
            fonts = true;
        else {
            std::fprintf(stderr, "usage: theme_popover_demo [--theme ID] [--typeface ID] [--fonts] [--screenshot FILE]\n");
            return 2;
        }
    }
    if (!screenshot.isEmpty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (theme >= 0)
        Core::shared().setColorTheme(theme);
    if (typeface >= 0)
        Core::shared().setTypeFace(typeface);

    // Stands in for the popover: a frame of the content size.
    QWidget host;
    host.setWindowTitle(QStringLiteral("Theme"));
    host.setFixedSize(ThemeViewController::ContentSize);
    PrintingDelegate delegate;
    ThemeViewController controller;
    controller.setDelegate(&delegate);
    controller.view()->setParent(&host);
    host.show();
    if (fonts) {
        AnimationContext::setTestMode(!screenshot.isEmpty()); // the screenshot shows where the push ends
        controller.fontButtonDidTap();
    }
    if (screenshot.isEmpty())
        return app.exec();
    DispatchQueue::drainMain();
    app.processEvents();
    if (!host.grab().save(screenshot)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(screenshot));
        return 1;
    }
    return 0;
}
