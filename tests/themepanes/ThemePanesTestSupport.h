#pragma once

#include "../panes/PanesTestSupport.h"

#include "theme/ThemeViewController.h"

#include <QObject>

#include <memory>

// Records every call with what the popover showed at that moment, and stores choices in Core like
// the window's controller.
class RecordingThemeDelegate : public QObject, public ThemeViewControllerDelegate {
public:
    QStringList calls;
    std::function<void()> onCall;

    void themeControllerDidSelectTheme(ThemeViewController&, ThemeID theme) override
    {
        record(QStringLiteral("theme %1").arg(theme));
        Core::shared().setColorTheme(theme);
    }
    void themeControllerDidSelectTypeFace(ThemeViewController&, TypefaceID typeface) override
    {
        record(QStringLiteral("typeface %1").arg(typeface));
        Core::shared().setTypeFace(typeface);
    }
    void themeControllerDidTapSmallerFontSize(ThemeViewController&) override { record(QStringLiteral("smaller")); }
    void themeControllerDidTapLargerFontSize(ThemeViewController&) override { record(QStringLiteral("larger")); }

private:
    void record(const QString& call)
    {
        calls.append(call);
        if (onCall)
            onCall();
    }
};

// A popover's content on the given settings, shown offscreen.
struct ShownPopover {
    RecordingThemeDelegate delegate;
    QWidget host; // as the popover holds the content
    std::unique_ptr<ThemeViewController> controller;

    ShownPopover(ThemeID theme, TypefaceID typeface = 0)
    {
        sharedTestCore();
        AnimationContext::setTestMode(true);
        Core::shared().setColorTheme(theme);
        Core::shared().setTypeFace(typeface);
        controller = std::make_unique<ThemeViewController>();
        controller->setDelegate(&delegate);
        controller->view()->setParent(&host);
        host.resize(ThemeViewController::ContentSize);
        host.show();
        settle();
    }
    ThemePageViewController& page()
    {
        return *qobject_cast<ThemePageViewController*>(controller->themePageController().selectedViewController());
    }
};
