#include "shell/PaneSizing.h"

#include "TestSupport.h"
#include "UserDefaults.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace PaneSizing;

// Both splits with their 1-pixel divider and a folder pane 120 wide.
TEST(ShellSizing, SplitsGrowAndShrinkTheirPanesInTurn)
{
    using Split = SplitWidths (*)(double, double, double, double, double);
    const struct { const char* name; Split split; double delta, left, right; double leftAfter, rightAfter; } cases[] = {
        {"growth fills the note pane to 200, then the sidebar", mainSplit, 100, 100, 150, 150, 200},
        {"a sidebar at folder + 50 leaves the rest to the note pane", mainSplit, 100, 170, 150, 170, 250},
        {"a collapsed sidebar stays collapsed", mainSplit, 100, 0, 150, 0, 250},
        {"a wide note pane takes all the growth past the limit", mainSplit, 100, 170, 300, 170, 400},
        {"shrinking takes the note pane to 200, then the sidebar", mainSplit, -100, 300, 250, 250, 200},
        {"a note pane at 200 passes the whole shrink on", mainSplit, -100, 300, 200, 200, 200},
        {"the sidebar never goes below 0", mainSplit, -400, 300, 200, 0, 100},
        {"the list goes to 150, the folder pane loses the rest", menuSplit, -80, 120, 160, 50, 150},
        {"the folder pane never goes below 0", menuSplit, -400, 120, 160, 0, 0},
        {"a list above 150 takes a small shrink alone", menuSplit, -10, 120, 200, 120, 190},
        {"growth returns the folder pane to its width first", menuSplit, 100, 60, 200, 120, 240},
        {"a folder pane at its width leaves growth to the list", menuSplit, 30, 120, 200, 120, 230},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const double old = c.left + 1 + c.right;
        const SplitWidths widths = c.split(old + c.delta, old, c.left, c.right, 120);
        EXPECT_EQ(widths.left, c.leftAfter);
        EXPECT_EQ(widths.right, c.rightAfter);
    }
}

TEST(ShellSizing, ToolbarItemsSitOverTheirPanesAndTheListLosesWhatTheInsetCovers)
{
    const struct { const char* name; double noteX, listX, inset; double note, list; } cases[] = {
        {"no inset", 300, 60, 0, 687, 232},
        {"an inset of 96 over a list at 60", 300, 60, 96, 687, 196},
        {"a list starting past the inset keeps its width", 300, 120, 96, 687, 172},
        {"a list item below 0 is taken from the note item", 1, 0, 50, 929, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolbarLayout layout = toolbarLayout(1000, c.noteX, c.listX, c.inset);
        EXPECT_EQ(layout.noteItemWidth, c.note);
        EXPECT_EQ(layout.listItemWidth, c.list);
    }
}

TEST(ShellSizing, StoredWindowStateFallsBackForMissingSmallAndNonNumericWidths)
{
    UserDefaults defaults(TestSupport::home() + QStringLiteral("/sizing.ini"));
    const struct { const char* name; QVariant folder, list; double folderRead, listRead; } cases[] = {
        {"missing", {}, {}, 120, 200},
        {"50 or less", 50.0, 12.0, 120, 200},
        {"above 50", 51.0, 333.5, 51, 333.5},
        {"not numbers", QStringLiteral("wide"), QStringLiteral("12px"), 120, 200},
        {"not finite", std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 120, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.setObject(c.folder, QStringLiteral("folderWidth"));
        defaults.setObject(c.list, QStringLiteral("listWidth"));
        const WindowState state = readWindowState(defaults);
        EXPECT_EQ(state.folderWidth, c.folderRead);
        EXPECT_EQ(state.listWidth, c.listRead);
    }
    writeWindowState(defaults, {true, true, 140.3, 260});
    const WindowState state = readWindowState(defaults);
    EXPECT_TRUE(state.toolbarHidden);
    EXPECT_TRUE(state.sidebarHidden);
    EXPECT_EQ(state.folderWidth, double(float(140.3))) << "kept as a single-precision number";
    EXPECT_EQ(state.listWidth, 260);
    EXPECT_EQ(rememberedWidth(200, 50), 200) << "50 points is not remembered";
    EXPECT_EQ(rememberedWidth(200, 51), 51);
}

} // namespace
