#include "kit/Window.h"

#include "kit/MenuItem.h"
#include "kit/ViewController.h"

#include <QEvent>

Window::Window(QWidget* parent) : QMainWindow(parent), host_(new QWidget)
{
    setCentralWidget(host_);
    host_->installEventFilter(this);
    addHandler(Selector("toggleFullScreen:"), [this](QObject*) { toggleFullScreen(); });
    addHandler(Selector("toggleToolbarShown:"), [this](QObject*) { setToolbarVisible(!isToolbarVisible()); });
}

Window::~Window()
{
    delete content_;
}

void Window::setContentViewController(ViewController* controller)
{
    if (controller == content_)
        return;
    delete content_;
    content_ = controller;
    if (content_) {
        content_->removeFromParent();
        content_->view()->setParent(host_);
        content_->view()->show();
    }
    layoutHost();
}

void Window::setToolbarStrip(QWidget* strip)
{
    delete strip_.data();
    strip_ = strip;
    if (strip_) {
        strip_->setParent(host_);
        strip_->show();
    }
    layoutHost();
}

bool Window::isToolbarVisible() const
{
    return strip_ && !strip_->isHidden();
}

void Window::setToolbarVisible(bool visible)
{
    if (!strip_ || visible == isToolbarVisible())
        return;
    strip_->setVisible(visible);
    layoutHost();
}

QRect Window::contentLayoutRect() const
{
    const int top = isToolbarVisible() ? strip_->height() : 0;
    return host_->rect().adjusted(0, top, 0, 0);
}

void Window::toggleFullScreen()
{
    const bool entering = !isFullScreen();
    transition_ = entering ? Transition::Entering : Transition::Exiting;
    if (delegate_)
        entering ? delegate_->windowWillEnterFullScreen(*this) : delegate_->windowWillExitFullScreen(*this);
    setWindowState(windowState() ^ Qt::WindowFullScreen);
    if (isHidden())
        show();
}

bool Window::validateMenuItem(MenuItem& item)
{
    if (item.action() == Selector("toggleFullScreen:"))
        item.setText(isFullScreen() ? tr("Exit Full Screen") : tr("Enter Full Screen"));
    else if (item.action() == Selector("toggleToolbarShown:"))
        item.setText(isToolbarVisible() ? tr("Hide Toolbar") : tr("Show Toolbar"));
    return true;
}

void Window::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const bool fullScreen = windowState() & Qt::WindowFullScreen;
    if (fullScreen != wasFullScreen_)
        fullScreenStateChanged(fullScreen);
}

void Window::fullScreenStateChanged(bool fullScreen)
{
    wasFullScreen_ = fullScreen;
    const Transition expected = fullScreen ? Transition::Entering : Transition::Exiting;
    const bool announced = std::exchange(transition_, Transition::None) == expected;
    if (!delegate_)
        return;
    if (fullScreen) {
        if (!announced)
            delegate_->windowWillEnterFullScreen(*this);
        delegate_->windowDidEnterFullScreen(*this);
    } else {
        if (!announced)
            delegate_->windowWillExitFullScreen(*this);
        delegate_->windowDidExitFullScreen(*this);
    }
}

bool Window::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == host_ && event->type() == QEvent::Resize)
        layoutHost();
    return QMainWindow::eventFilter(watched, event);
}

void Window::layoutHost()
{
    if (content_)
        content_->view()->setGeometry(host_->rect());
    if (strip_) {
        strip_->setGeometry(0, 0, host_->width(), strip_->sizeHint().height());
        strip_->raise();
    }
    const QRect rect = contentLayoutRect();
    if (rect != lastLayoutRect_) {
        lastLayoutRect_ = rect;
        emit contentLayoutRectChanged(rect);
    }
}
