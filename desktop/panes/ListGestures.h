#pragma once

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QPointer>

#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

class ListEntryCell;
class QMouseEvent;
class QWheelEvent;
class TableView;

// Turns presses, drags and trackpad scrolls over the note list into clicks and row swipes, from one
// event filter on the table's viewport. A press on a row's button never reaches it: the button takes
// the press itself. Horizontal trackpad travel over a row slides the row; vertical travel, and every
// mouse wheel, scrolls the list.
class ListGestures : public QObject {
public:
    enum PanState : int64_t { Idle = 0, Panning = 10, Undecided = 20, Swiping = 21 };
    // How far one axis must lead the other before a scroll counts as a swipe or a scroll.
    static constexpr double Lead = 5.0;
    // Platforms that give no scroll phases: a gesture begins after this long without wheel events
    // and ends this long after the last one.
    static constexpr double QuietBeforeBegin = 0.150;
    static constexpr double EndAfter = 0.120;
    // A swipe moves its row this many points per unit of gesture amount; the amount is the fingers'
    // horizontal travel in Qt's scroll pixels over PixelsPerGestureUnit, bounded to one unit each way.
    static constexpr double PointsPerGestureUnit = 1300.0;
    static constexpr double PixelsPerGestureUnit = 1300.0;

    struct Hooks {
        // The row under a viewport point, or null (blank space, no row).
        std::function<ListEntryCell*(QPoint)> cellAt;
        // A press released without a drag.
        std::function<void(QPoint)> click;
    };

    ListGestures(TableView* table, Hooks hooks);

    PanState panState() const { return state_; }
    // Runs the event through the swipe states; true when the list may scroll it.
    bool shouldScroll(const QWheelEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The row under a viewport point, when its owner lets it pan.
    ListEntryCell* pannableCellAt(QPoint at) const;
    bool mouse(const QMouseEvent& event);
    Qt::ScrollPhase phaseOf(const QWheelEvent& event);
    void scroll(Qt::ScrollPhase phase, QPointF delta, QPoint position);
    void endSwipe();

    TableView* table_;
    Hooks hooks_;
    PanState state_ = Idle;
    QPointer<ListEntryCell> panning_;
    // Shared with the running swipe; set when a new gesture takes over.
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::optional<QPoint> pressAt_;
    double travel_ = 0;
    double lastWheel_ = -std::numeric_limits<double>::infinity();
    uint64_t wheels_ = 0;
};
