#include "shell/IntroKeys.h"

#include <QApplication>
#include <QKeyEvent>

IntroKeys::IntroKeys(QWidget& intro, QWidget& main, std::function<void()> dismiss)
    : QObject(&intro), intro_(intro), main_(&main), dismiss_(std::move(dismiss))
{
    intro.setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    intro.setAttribute(Qt::WA_ShowWithoutActivating);
    // Keys go to the main window's focus widget, which may be any widget of it.
    qApp->installEventFilter(this);
}

bool IntroKeys::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type != QEvent::KeyPress && type != QEvent::ShortcutOverride) || !intro_.isVisible())
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    auto& key = static_cast<QKeyEvent&>(*event);
    if (!widget || !main_ || widget->window() != main_ || !dismisses(key))
        return false;
    // A shortcut (Ctrl+N) takes its key before the key is pressed; Return waits to be pressed.
    const bool getStarted = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
    if (type == QEvent::ShortcutOverride && getStarted)
        return false;
    dismiss_();
    return type == QEvent::KeyPress && getStarted;
}

bool IntroKeys::dismisses(const QKeyEvent& event)
{
    switch (event.key()) {
    case 0:
    case Qt::Key_unknown:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return false;
    default:
        return true;
    }
}
