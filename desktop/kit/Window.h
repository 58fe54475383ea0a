#pragma once

#include "kit/Responder.h"

#include <QMainWindow>
#include <QPointer>

class ViewController;
class Window;

// Told about full-screen transitions. When the window manager changes the state on its own, will and
// did arrive together.
class WindowDelegate {
public:
    virtual ~WindowDelegate() = default;
    virtual void windowWillEnterFullScreen(Window&) {}
    virtual void windowDidEnterFullScreen(Window&) {}
    virtual void windowWillExitFullScreen(Window&) {}
    virtual void windowDidExitFullScreen(Window&) {}
};

// A main window whose content view controller fills the client area under the menu bar; an optional
// toolbar strip lies over the content's top edge. contentLayoutRect() is the part of the content below
// the strip, in the content view's coordinates. Key window is isActiveWindow(), first responder is
// focusWidget(), the frame is kept with saveGeometry()/restoreGeometry().
// Handles "toggleFullScreen:" and "toggleToolbarShown:".
class Window : public QMainWindow, public Responder {
    Q_OBJECT
public:
    explicit Window(QWidget* parent = nullptr);
    ~Window() override;

    // Takes ownership; the previous controller is deleted.
    void setContentViewController(ViewController* controller);
    ViewController* contentViewController() const { return content_; }

    // Takes ownership of the strip; its height is kept, its width follows the window.
    void setToolbarStrip(QWidget* strip);
    QWidget* toolbarStrip() const { return strip_; }
    bool isToolbarVisible() const;
    void setToolbarVisible(bool visible);

    QRect contentLayoutRect() const;

    void setDelegate(WindowDelegate* delegate) { delegate_ = delegate; }
    void toggleFullScreen();

    // Titles the full-screen and toolbar items after the current state.
    bool validateMenuItem(MenuItem& item) override;

signals:
    void contentLayoutRectChanged(const QRect& rect);

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Transition { None, Entering, Exiting };
    void layoutHost();
    void fullScreenStateChanged(bool fullScreen);

    QWidget* host_;
    QPointer<QWidget> strip_;
    ViewController* content_ = nullptr;
    WindowDelegate* delegate_ = nullptr;
    Transition transition_ = Transition::None;
    bool wasFullScreen_ = false;
    QRect lastLayoutRect_;
};
