#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QKeyEvent;

// The intro leaves the keys to the main window, so nothing typed while it shows, or right after it
// closes, waits for a window manager to move the focus: the intro never takes the focus, and the
// first key the main window gets closes it. Return there stands for the intro's "Get Started" and
// goes no further; any other key goes on where it was going.
class IntroKeys : public QObject {
public:
    // A child of `intro`, which it makes a window that never takes the focus.
    IntroKeys(QWidget& intro, QWidget& main, std::function<void()> dismiss);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static bool dismisses(const QKeyEvent& event);

    QWidget& intro_;
    QPointer<QWidget> main_;
    std::function<void()> dismiss_;
};
