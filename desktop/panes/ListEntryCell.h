#pragma once

#include "panes/BoxButton.h"

#include "Store/ListItem.h"

#include <QColor>
#include <QMargins>
#include <QPointer>
#include <QWidget>

#include <functional>

class AttributedLabel;
class ListEntryCell;
class QLabel;

class ListEntryCellDelegate {
public:
    virtual ~ListEntryCellDelegate() = default;
    virtual void listEntryDidTouchDown(ListEntryCell& cell) = 0;
    virtual void listEntryDidShowOptions(ListEntryCell& cell) = 0;
    // 0.3 s after an armed drag ended, for the note the row showed when it was armed (the row may
    // show another one by now).
    virtual void listEntryDidSwipeAction(ListEntryCell& cell, const QString& key, int storage) = 0;
    // 1 the trash button, 2 the restore button.
    virtual void listEntryDidTapOption(ListEntryCell& cell, int index) = 0;
    // Asked before a drag or swipe moves the row; a row that may not pan stays put.
    virtual bool listEntryWillPan(ListEntryCell& cell) = 0;
    virtual QColor backgroundColorForListEntry(const ListEntryCell& cell) = 0;
};

// A list row whose container slides left over option buttons. Mode 1 opens one button at -60 and,
// dragged past -140, arms an action that fires when let go; mode 2 opens one button, mode 3 two (at
// -120). The owner drives the drag through the pan calls and dresses the row each time it hands it out.
class ListEntryCell : public QWidget {
public:
    enum Mode { Swipe = 1, OneButton = 2, TwoButtons = 3 };
    enum DragState { Resting, Began, Dragging, Armed, RightFirst };
    static constexpr int ButtonWidth = 60;
    static constexpr int SwipeWidth = 140;
    static constexpr int OpenThreshold = -30;
    static constexpr double SlideSeconds = 0.3;

    explicit ListEntryCell(QWidget* parent = nullptr);

    // Not owned; set each time the row is handed out.
    void setDelegate(ListEntryCellDelegate* delegate) { delegate_ = delegate; }
    ListEntryCellDelegate* delegate() const { return delegate_; }
    void setMode(int mode) { mode_ = mode; }
    int mode() const { return mode_; }
    void setListItem(ListItemPtr item) { item_ = std::move(item); }
    const ListItemPtr& listItem() const { return item_; }
    int dragState() const { return state_; }
    // Plays the arming (1) and disarming (2) sounds; the core's by default.
    void setSoundPlayer(std::function<void(int)> play) { playSound_ = std::move(play); }

    BoxButton* trashButton() const { return trashButton_; }
    BoxButton* restoreButton() const { return restoreButton_; }
    QLabel* swipeLabel() const { return swipeLabel_; }
    QLabel* swipeArrow() const { return swipeArrow_; }
    QWidget* swipeContainer() const { return swipeContainer_; }
    QWidget* contentView() const { return contentView_; }
    QWidget* container() const { return container_; }
    AttributedLabel* titleLabel() const { return titleLabel_; }
    // The title label's frame as insets from the row's edges (negative reaches past them); it follows
    // the row as the row is resized, so a row made while the list was narrow widens with it.
    void setTitleMargins(const QMargins& margins);
    void setContentColor(const QColor& color);
    // The swipe label's text in the menu font, in the colour.
    void setSwipeTitle(const QString& title, const QColor& color);

    // Lays the row out for the container at x, at once or animated over 0.3 s.
    void setOffset(double x);
    void moveContainerTo(double x);
    void showOptions();
    void hideOptions();

    void containerPanDidStart();
    void containerPanDidMove(double dx);
    void containerPanDidEnd();
    void containerPanDidCancel();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    class Container;
    using Place = std::function<void(QWidget*, const QRect&)>;

    void layOut(double x, const Place& place);
    void close();
    void setArmed(bool armed);
    void slideOut();
    double optionsPosition() const;

    ListEntryCellDelegate* delegate_ = nullptr;
    int mode_ = Swipe;
    int state_ = Resting;
    ListItemPtr item_;
    double startX_ = 0;
    QString armedKey_;
    int armedStorage_ = 0;
    std::function<void(int)> playSound_;
    QWidget* contentView_;
    QWidget* swipeContainer_;
    QLabel* swipeLabel_;
    QLabel* swipeArrow_;
    BoxButton* restoreButton_;
    BoxButton* trashButton_;
    QWidget* container_;
    AttributedLabel* titleLabel_;
    QMargins titleMargins_;
};
