#pragma once

#include <cstdint>

class UserDefaults;

// How the main window shares its width between the panes, where the toolbar items go, and the window
// state kept in the user defaults. Pure functions, so every rule is tested without a window.
namespace PaneSizing {

constexpr double DefaultFolderWidth = 120;
constexpr double DefaultListWidth = 200;
// Pane widths at or below this are neither restored nor remembered.
constexpr double RememberedWidthMinimum = 50;
// A sidebar this narrow or narrower counts as hidden.
constexpr double HiddenSidebarWidth = 5;
constexpr double NoteGrowLimit = 200;
constexpr double SidebarGrowSlack = 50;
constexpr double ListShrinkLimit = 150;
constexpr double ToolbarItemHeight = 26;

// The widths of the left and right subview of a split view with a 1-point divider.
struct SplitWidths {
    double left;
    double right;
};

// The window split: the note pane grows to 200 first, then an open sidebar to folderWidth + 50, the
// rest to the note pane; a shrink takes the note pane down to 200 first, then the sidebar down to 0.
SplitWidths mainSplit(double newWidth, double oldWidth, double sidebar, double note, double folderWidth);
// The sidebar split: the folder pane grows back to folderWidth first, the rest to the list; a shrink
// takes the list down to 150 first, then the folder pane down to 0.
SplitWidths menuSplit(double newWidth, double oldWidth, double folder, double list, double folderWidth);

struct ToolbarLayout {
    double noteItemWidth;
    double listItemWidth;
};
// The widths of the items over the note and list panes, from the root view's width and the panes'
// left edges; a list starting under the title-bar buttons (inset) loses what they cover.
ToolbarLayout toolbarLayout(double rootWidth, double noteX, double listX, double titleButtonInset);

struct WindowState {
    bool toolbarHidden = false;
    bool sidebarHidden = false;
    double folderWidth = DefaultFolderWidth;
    double listWidth = DefaultListWidth;
};
// Missing keys, widths at or below 50 and values that are no finite numbers take the defaults.
WindowState readWindowState(const UserDefaults& defaults);
void writeWindowState(UserDefaults& defaults, const WindowState& state);
// A pane width worth remembering replaces the remembered one.
double rememberedWidth(double remembered, double actual);

} // namespace PaneSizing
