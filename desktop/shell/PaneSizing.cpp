#include "shell/PaneSizing.h"

#include "UserDefaults.h"

#include <algorithm>
#include <cmath>

namespace PaneSizing {

namespace {

constexpr double Divider = 1;

// Grows width by delta up to limit; what passes the limit is left in delta.
void growTo(double& width, double& delta, double limit)
{
    if (width >= limit || delta <= 0)
        return;
    width += delta;
    delta = std::max(0.0, width - limit);
    width = std::min(width, limit);
}

// Shrinks width by -delta down to floor; what would pass the floor is left in delta.
void shrinkTo(double& width, double& delta, double floor)
{
    if (delta >= 0 || width <= floor)
        return;
    if (width + delta >= floor) {
        width += delta;
        delta = 0;
        return;
    }
    delta = width + delta - floor;
    width = floor;
}

const QString ToolbarHiddenKey = QStringLiteral("toolbarHidden");
const QString SidebarHiddenKey = QStringLiteral("sidebarHidden");
const QString FolderWidthKey = QStringLiteral("folderWidth");
const QString ListWidthKey = QStringLiteral("listWidth");

double storedWidth(const UserDefaults& defaults, const QString& key, double fallback)
{
    bool number = false;
    const double width = defaults.objectForKey(key).toDouble(&number);
    return number && std::isfinite(width) && width > RememberedWidthMinimum ? width : fallback;
}

} // namespace

SplitWidths mainSplit(double newWidth, double oldWidth, double sidebar, double note, double folderWidth)
{
    double delta = newWidth - oldWidth;
    double noteWidth = note;
    growTo(noteWidth, delta, NoteGrowLimit);
    if (sidebar > 0)
        growTo(sidebar, delta, folderWidth + SidebarGrowSlack);
    if (delta < 0 && note > NoteGrowLimit)
        shrinkTo(noteWidth, delta, NoteGrowLimit);
    if (delta < 0)
        sidebar = std::max(0.0, sidebar + delta);
    return {sidebar, std::max(0.0, newWidth - (sidebar + Divider))};
}

SplitWidths menuSplit(double newWidth, double oldWidth, double folder, double list, double folderWidth)
{
    double delta = newWidth - oldWidth;
    growTo(folder, delta, folderWidth);
    shrinkTo(list, delta, ListShrinkLimit);
    if (delta < 0)
        folder = std::max(0.0, folder + delta);
    return {folder, std::max(0.0, newWidth - (folder + Divider))};
}

ToolbarLayout toolbarLayout(double rootWidth, double noteX, double listX, double titleButtonInset)
{
    double note = rootWidth - noteX - 13;
    double list = noteX - listX - 8;
    if (listX - titleButtonInset < 0)
        list -= titleButtonInset - listX;
    if (list < 0) {
        note += list;
        list = 0;
    }
    return {note, list};
}

WindowState readWindowState(const UserDefaults& defaults)
{
    WindowState state;
    state.toolbarHidden = defaults.boolForKey(ToolbarHiddenKey);
    state.sidebarHidden = defaults.boolForKey(SidebarHiddenKey);
    state.folderWidth = storedWidth(defaults, FolderWidthKey, DefaultFolderWidth);
    state.listWidth = storedWidth(defaults, ListWidthKey, DefaultListWidth);
    return state;
}

void writeWindowState(UserDefaults& defaults, const WindowState& state)
{
    defaults.setBool(state.toolbarHidden, ToolbarHiddenKey);
    defaults.setBool(state.sidebarHidden, SidebarHiddenKey);
    defaults.setDouble(float(state.folderWidth), FolderWidthKey);
    defaults.setDouble(float(state.listWidth), ListWidthKey);
    defaults.synchronize();
}

double rememberedWidth(double remembered, double actual)
{
    return actual > RememberedWidthMinimum ? actual : remembered;
}

} // namespace PaneSizing
