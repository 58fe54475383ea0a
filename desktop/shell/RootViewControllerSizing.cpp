#include "shell/RootViewController.h"

#include "panes/SearchFieldWrapper.h"
#include "shell/PaneSizing.h"
#include "shell/RootWindow.h"

#include "UserDefaults.h"

#include <QLayout>
#include <QLineEdit>

namespace {

void setFrames(SplitView& split, const PaneSizing::SplitWidths& widths)
{
    QWidget* left = split.subviews().at(0);
    QWidget* right = split.subviews().at(1);
    const int height = split.height();
    left->setGeometry(left->x(), 0, int(widths.left), height);
    right->setGeometry(int(widths.left) + SplitView::DividerThickness, right->y(), int(widths.right), height);
}

} // namespace

void RootViewController::splitViewResizeSubviewsWithOldSize(SplitView& split, const QSize& oldSize)
{
    if (&split == menuSplitView_)
        return layoutMenuSplit(oldSize);
    const QList<QWidget*>& panes = split.subviews();
    setFrames(split, PaneSizing::mainSplit(split.width(), oldSize.width(), panes[0]->width(), panes[1]->width(),
                                           folderWidth_));
}

void RootViewController::layoutMenuSplit(const QSize& oldSize)
{
    const QList<QWidget*>& panes = menuSplitView_->subviews();
    setFrames(*menuSplitView_, PaneSizing::menuSplit(menuSplitView_->width(), oldSize.width(), panes[0]->width(),
                                                     panes[1]->width(), folderWidth_));
}

// Each step of a drag or live resize lays out the toolbar; the widths are read back once it settles.
void RootViewController::splitViewDidResizeSubviews(SplitView&)
{
    layoutToolbar();
    if (isRestoringWindowState_)
        return;
    settle_.cancel();
    settle_ = DispatchQueue::main()->after(ResizeSettleDelay, [self = QPointer(this)] {
        if (self)
            self->splitViewDidEndResizeSubviews();
    });
}

void RootViewController::splitViewDidEndResizeSubviews()
{
    reloadWindowState();
    invalidateRestorableState();
}

void RootViewController::layoutToolbar()
{
    RootWindow* window = rootWindow();
    if (!window || !mainSplitView_)
        return;
    QWidget* root = view();
    const double noteX = noteContainer_->mapTo(root, QPoint(0, 0)).x();
    const double listX = listContainer_->mapTo(root, QPoint(0, 0)).x();
    // The title bar lies above the strip; what covers the start of the strip is its sidebar button.
    // The folder item fills the gap up to the list pane, so the list item sits over the list.
    const int inset = window->folderToolbarItem()->x() + window->toolbar()->layout()->spacing();
    const PaneSizing::ToolbarLayout layout = PaneSizing::toolbarLayout(root->width(), noteX, listX, inset);
    const int height = int(PaneSizing::ToolbarItemHeight);
    // Before the first real layout the panes can sit past the window's edge.
    window->noteToolbarItem()->setFixedSize(std::max(0, int(layout.noteItemWidth)), height);
    window->listToolbarItem()->setFixedSize(std::max(0, int(layout.listItemWidth)), height);
    window->folderToolbarItem()->setFixedSize(std::max(0, int(listX) - inset), height);
    SearchFieldWrapper* wrapper = window->searchFieldWrapper();
    wrapper->setGeometry(5, 1, std::max(0, int(layout.listItemWidth) - 10), height);
    wrapper->reloadLayout();
}

void RootViewController::reloadWindowState()
{
    if (RootWindow* window = rootWindow())
        toolbarHidden_ = !window->isToolbarVisible();
    if (isFullScreen())
        return;
    const QWidget* sidebar = mainSplitView_->subviews().value(0);
    sidebarHidden_ = !sidebar || sidebar->width() <= PaneSizing::HiddenSidebarWidth;
    if (!sidebarHidden_) {
        folderWidth_ = PaneSizing::rememberedWidth(folderWidth_, folderContainer_->width());
        listWidth_ = PaneSizing::rememberedWidth(listWidth_, listContainer_->width());
    }
    reloadSideBarButton();
}

// The panes start at their remembered widths (or collapsed) beside a note pane of the width the window
// grows first; the split rules take it from there.
void RootViewController::restoreWindowState()
{
    const PaneSizing::WindowState state = PaneSizing::readWindowState(UserDefaults::standard());
    toolbarHidden_ = state.toolbarHidden;
    sidebarHidden_ = state.sidebarHidden;
    folderWidth_ = state.folderWidth;
    listWidth_ = state.listWidth;
    isRestoringWindowState_ = true;
    const int folder = int(folderWidth_);
    const int sidebar = folder + SplitView::DividerThickness + int(listWidth_);
    const int height = 400;
    menuSplitView_->setGeometry(0, 0, sidebar, height);
    setFrames(*menuSplitView_, {double(folder), listWidth_});
    const int note = int(PaneSizing::NoteGrowLimit);
    noteContainer_->setGeometry(sidebar + SplitView::DividerThickness, 0, note, height);
    view()->resize(sidebar + SplitView::DividerThickness + note, height);
    mainSplitView_->setGeometry(view()->rect());
    isRestoringWindowState_ = false;
}

void RootViewController::applyRestoredToolbar()
{
    isRestoringWindowState_ = true;
    if (RootWindow* window = rootWindow())
        window->setToolbarVisible(!toolbarHidden_);
    isRestoringWindowState_ = false;
}

void RootViewController::encodeRestorableState()
{
    reloadWindowState();
    PaneSizing::writeWindowState(UserDefaults::standard(),
                                 {toolbarHidden_, sidebarHidden_, folderWidth_, listWidth_});
}
