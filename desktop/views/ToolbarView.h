#pragma once

#include <QLabel>

class ToolbarView;

class ToolbarViewDelegate {
public:
    virtual ~ToolbarViewDelegate() = default;
    virtual void toolbarViewMouseDidEnter(ToolbarView& view) = 0;
    virtual void toolbarViewMouseDidExit(ToolbarView& view) = 0;
};

// An image view that is one hover area over its whole bounds, whatever its size, and reports the
// pointer coming in and going out (Qt sends both to inactive windows too).
class ToolbarView : public QLabel {
public:
    explicit ToolbarView(QWidget* parent = nullptr);

    // Not owned.
    void setDelegate(ToolbarViewDelegate* delegate) { delegate_ = delegate; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    ToolbarViewDelegate* delegate_ = nullptr;
};
