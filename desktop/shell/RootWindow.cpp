#include "shell/RootWindow.h"

#include "kit/Image.h"
#include "kit/QtColor.h"
#include "kit/ViewController.h"
#include "panes/SearchFieldWrapper.h"
#include "shell/MainMenu.h"
#include "views/ToolbarButton.h"
#include "views/ToolbarView.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QMenuBar>

namespace {

// Menu actions of the window and what the content view controller is sent for each.
constexpr std::pair<const char*, const char*> Forwards[] = {
    {"restoreNoteToInbox:", "restoreNoteToInbox:"},
    {"deleteNote:", "deleteNote:"},
    {"archiveNote:", "archiveNote:"},
    {"toggleSidebarShown:", "toggleSidebarShown:"},
    {"openQuickly:", "openQuickly:"},
    {"newDocument:", "newDocument:"},
    {"search:", "search:"},
    {"showThemeOptions:", "showThemeOptions:"},
    {"printNote:", "print:"},
    {"printFormattedNote:", "printFormatted:"},
    {"exportNote:", "exportNote:"},
    {"sortNoteByUpdatedOn:", "sortNoteByUpdatedOn:"},
    {"sortNoteByCreatedOn:", "sortNoteByCreatedOn:"},
    {"sortNoteByTitle:", "sortNoteByTitle:"},
};

} // namespace

RootWindow::RootWindow(QWidget* parent) : Window(parent)
{
    for (const auto& [action, target] : Forwards)
        forwards_.insert(Selector(action), Selector(target));
    // Notes print through printNote: and printFormattedNote:; the window itself prints nothing.
    addHandler(Selector("print:"), [](QObject*) {});
    addHandler(Selector("performAppearanceAction:"), [this](QObject* sender) { performAppearanceAction(sender); });
    buildStrip();
    shareMenu_ = MainMenu::install(*this);
}

ToolbarButton* RootWindow::makeButton(const char* action)
{
    auto* button = new ToolbarButton;
    button->setFixedSize(26, 26);
    connect(button, &QAbstractButton::clicked, this,
            [this, button, selector = Selector(action)] { ResponderChain::sendAction(selector, nullptr, button, this); });
    return button;
}

void RootWindow::buildStrip()
{
    toolbar_ = new ToolbarView;
    toolbar_->setFixedHeight(StripHeight);
    toggleSideBarButton_ = makeButton("toggleSidebarShown:");
    createNoteButton_ = makeButton("newDocument:");
    themeButton_ = makeButton("showThemeOptions:");
    folderToolbarItem_ = new QWidget;
    listToolbarItem_ = new QWidget;
    noteToolbarItem_ = new QWidget;
    searchFieldWrapper_ = new SearchFieldWrapper(listToolbarItem_);

    auto* noteItems = new QHBoxLayout(noteToolbarItem_);
    noteItems->setContentsMargins(0, 0, 0, 0);
    noteItems->addWidget(createNoteButton_);
    noteItems->addStretch(1);
    noteItems->addWidget(themeButton_);

    auto* strip = new QHBoxLayout(toolbar_);
    strip->setContentsMargins(8, 6, 13, 6);
    strip->setSpacing(8);
    strip->addWidget(toggleSideBarButton_);
    strip->addWidget(folderToolbarItem_);
    strip->addWidget(listToolbarItem_, 1);
    strip->addWidget(noteToolbarItem_, 2);
    setToolbarStrip(toolbar_);
}

void RootWindow::applyTheme(ThemeID theme, bool sidebarHidden)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, toQColor(Themeset::backgroundColorForTheme(theme)));
    const QColor text = toQColor(Themeset::textColorForTheme(theme));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::ButtonText, text);
    setPalette(palette);
    menuBar()->setPalette(palette); // the platform gives menu bars a palette of their own
    const QString stem = Themeset::resourceNameForTheme(theme);
    const auto image = [&](const char* suffix) { return Image::named(stem + QLatin1String(suffix), devicePixelRatioF()); };
    createNoteButton_->setMouseUpImage(image("-plus"));
    createNoteButton_->setMouseDownImage(image("-plus-selected"));
    themeButton_->setMouseUpImage(image("-theme"));
    themeButton_->setMouseDownImage(image("-theme-selected"));
    toggleSideBarButton_->setMouseUpImage(image(sidebarHidden ? "-sidebar" : "-sidebar-selected"));
    toggleSideBarButton_->setMouseDownImage(image(sidebarHidden ? "-sidebar-selected" : "-sidebar"));
}

void RootWindow::performAppearanceAction(QObject* sender)
{
    if (auto* segments = qobject_cast<QButtonGroup*>(sender); segments && segments->checkedId() == 0)
        ResponderChain::sendAction(Selector("toggleSidebarShown:"), nullptr, this, this);
}

bool RootWindow::respondsToSelector(const Selector& selector) const
{
    const auto forward = forwards_.constFind(selector);
    if (forward == forwards_.constEnd())
        return Window::respondsToSelector(selector);
    return contentViewController() && contentViewController()->respondsToSelector(*forward);
}

bool RootWindow::tryToPerform(const Selector& selector, QObject* sender)
{
    const auto forward = forwards_.constFind(selector);
    if (forward == forwards_.constEnd())
        return Window::tryToPerform(selector, sender);
    return contentViewController() && contentViewController()->tryToPerform(*forward, sender);
}

bool RootWindow::validateMenuItem(MenuItem& item)
{
    return contentViewController() ? contentViewController()->validateMenuItem(item) : Window::validateMenuItem(item);
}
