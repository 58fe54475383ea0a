#pragma once

#include "kit/Selector.h"

#include <QAction>
#include <QPointer>

class QMenu;
class QMenuBar;
class Responder;

// A menu command: a QAction that sends its selector along the responder chain of its window (or to
// an explicit target). It validates itself before it is shown and again before it dispatches: the
// responder that takes the selector decides enabled, title and check state; nobody taking it
// disables the item, so neither a click nor the shortcut can fire.
class MenuItem : public QAction {
    Q_OBJECT
public:
    MenuItem(const QString& title, const Selector& action, QObject* parent = nullptr);

    const Selector& action() const { return action_; }
    // Not owned; null sends along the chain.
    void setTarget(Responder* target) { target_ = target; }
    // The window whose chain is asked; null asks the active window's.
    void setWindow(QWidget* window) { window_ = window; }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    // On or off; makes the item checkable.
    void setState(bool on);

    Responder* currentTarget() const;
    // Sets enabled from the target's answer; returns it.
    bool validate();
    // Validates, then sends the action with this item as sender; false when it was disabled.
    bool dispatch();

    // Validates every MenuItem of the menu (not of its submenus) when it is about to show.
    static void validateOnShow(QMenu* menu);
    static void validateAll(const QList<QAction*>& actions);
    // The first item with the selector in the bar's menus, in menu order (submenus are not searched).
    static MenuItem* find(const QMenuBar* bar, const Selector& action);

private:
    Selector action_;
    Responder* target_ = nullptr;
    QPointer<QWidget> window_;
    int tag_ = 0;
};
