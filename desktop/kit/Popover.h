#pragma once

#include <QFrame>
#include <QPointer>

class ViewController;

// A transient panel beside an anchor rectangle. It opens on the preferred edge of the anchor and on
// the opposite edge when it would leave the screen there; along that edge it slides to stay inside the
// anchor's window and the screen. A click outside or Escape closes it; didClose() follows every close.
class Popover : public QFrame {
    Q_OBJECT
public:
    enum class Edge { Top, Bottom, Left, Right };

    explicit Popover(QWidget* parent = nullptr);
    ~Popover() override;

    // Takes ownership; its view fills the popover.
    void setContentViewController(ViewController* controller);
    ViewController* contentViewController() const { return content_; }
    void setContentSize(const QSize& size);

    // The anchor is in the anchor view's coordinates.
    void show(const QRect& anchor, QWidget* anchorView, Edge preferredEdge);
    // The edge it opened on.
    Edge shownEdge() const { return shownEdge_; }

    // The frame, in screen coordinates, for a panel of the size beside the anchor; the edge used is
    // returned through `used`. Along the edge the frame keeps inside the window's part of the screen
    // where it fits there, else inside the screen.
    static QRect frameFor(const QRect& anchor, const QSize& size, Edge preferred, const QRect& screen, Edge* used,
                          const QRect& window = QRect());

signals:
    void didClose();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    ViewController* content_ = nullptr;
    QSize contentSize_{240, 350};
    Edge shownEdge_ = Edge::Bottom;
};
