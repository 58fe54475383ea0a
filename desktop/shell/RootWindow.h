#pragma once

#include "kit/Window.h"

#include "Themes/Themeset.h"

class QMenu;
class SearchFieldWrapper;
class ToolbarButton;
class ToolbarView;

// The main window. A toolbar strip lies along the top of the content: a ToolbarView that is both the
// strip's picture and the hover area, holding the sidebar button, the three toolbar items and the
// create and theme buttons. The menu bar holds every command. The note commands are forwarded to
// the content view controller with their sender, and it validates every item the window takes.
class RootWindow : public Window {
public:
    static constexpr int StripHeight = 38;

    explicit RootWindow(QWidget* parent = nullptr);

    ToolbarView* toolbar() const { return toolbar_; }
    ToolbarButton* createNoteButton() const { return createNoteButton_; }
    ToolbarButton* themeButton() const { return themeButton_; }
    ToolbarButton* toggleSideBarButton() const { return toggleSideBarButton_; }
    // Containers over the sidebar, the note list and the editor; their widths are set from the panes.
    QWidget* folderToolbarItem() const { return folderToolbarItem_; }
    QWidget* listToolbarItem() const { return listToolbarItem_; }
    QWidget* noteToolbarItem() const { return noteToolbarItem_; }
    // The search field, inside the list's item.
    SearchFieldWrapper* searchFieldWrapper() const { return searchFieldWrapper_; }
    // The submenu of the Share item, empty until its owner fills it.
    QMenu* shareMenu() const { return shareMenu_; }

    // Window background and text colours and the theme's button images; the sidebar button shows the sidebar's state
    // (its selected image while the sidebar is shown).
    void applyTheme(ThemeID theme, bool sidebarHidden);

    // From a segmented control (a QButtonGroup): the segment with id 0 toggles the sidebar through the
    // responder chain, with this window as sender; any other does nothing.
    void performAppearanceAction(QObject* sender);

    bool respondsToSelector(const Selector& selector) const override;
    bool tryToPerform(const Selector& selector, QObject* sender) override;
    bool validateMenuItem(MenuItem& item) override;

private:
    void buildStrip();
    ToolbarButton* makeButton(const char* action);

    QHash<Selector, Selector> forwards_;
    ToolbarView* toolbar_;
    ToolbarButton* createNoteButton_;
    ToolbarButton* themeButton_;
    ToolbarButton* toggleSideBarButton_;
    QWidget* folderToolbarItem_;
    QWidget* listToolbarItem_;
    QWidget* noteToolbarItem_;
    SearchFieldWrapper* searchFieldWrapper_;
    QMenu* shareMenu_;
};
