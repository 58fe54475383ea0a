#include "theme/ThemeSettingsDelegate.h"

#include "kit/Popover.h"
#include "panes/FolderViewController.h"
#include "panes/ListViewController.h"
#include "panes/NoteViewController.h"
#include "shell/RootWindow.h"

#include "Core.h"
#include "UserDefaults.h"

ThemeSettingsDelegate::ThemeSettingsDelegate(NoteViewController* editor, FolderViewController* sidebar,
                                             ListViewController* list, QObject* parent)
    : QObject(parent), editor_(editor), sidebar_(sidebar), list_(list)
{
}

void ThemeSettingsDelegate::showTheme(QWidget* anchor)
{
    if (popover_)
        popover_->close();
    auto* popover = new Popover(anchor->window());
    popover->setAttribute(Qt::WA_DeleteOnClose);
    auto* controller = new ThemeViewController;
    controller->setDelegate(this);
    popover->setContentViewController(controller);
    popover->setContentSize(ThemeViewController::ContentSize);
    popover->show(anchor->rect(), anchor, Popover::Edge::Bottom);
    popover_ = popover;
}

void ThemeSettingsDelegate::themeControllerDidSelectTheme(ThemeViewController&, ThemeID theme)
{
    Core::shared().setColorTheme(theme);
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setInteger(theme, QStringLiteral("theme"));
    defaults.synchronize();
    if (editor_) {
        if (auto* window = dynamic_cast<RootWindow*>(editor_->view()->window()))
            window->applyTheme(theme, sidebar_ && sidebar_->view()->isHidden());
        editor_->reloadTheme();
    }
    if (sidebar_)
        sidebar_->reloadTheme();
    if (list_)
        list_->reloadTheme();
}

void ThemeSettingsDelegate::themeControllerDidSelectTypeFace(ThemeViewController&, TypefaceID typeface)
{
    Core::shared().setTypeFace(typeface);
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setInteger(typeface, QStringLiteral("typeface"));
    defaults.synchronize();
    if (editor_)
        editor_->reloadTypeFace();
}

void ThemeSettingsDelegate::themeControllerDidTapSmallerFontSize(ThemeViewController&)
{
    if (editor_)
        editor_->useSmallerTypeSizeOffset();
}

void ThemeSettingsDelegate::themeControllerDidTapLargerFontSize(ThemeViewController&)
{
    if (editor_)
        editor_->useLargerTypeSizeOffset();
}
