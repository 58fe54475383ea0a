#pragma once

#include "kit/Selector.h"

#include <QHash>
#include <QList>

#include <functional>

class MenuItem;
class QObject;
class QWidget;

// Something that handles actions by selector. Widgets, view controllers, windows and the application
// delegate derive from it and register what they handle with addHandler().
class Responder {
public:
    using Action = std::function<void(QObject* sender)>;

    virtual ~Responder() = default;

    virtual bool respondsToSelector(const Selector& selector) const;
    // Runs the handler of the selector with the sender; false when there is none.
    virtual bool tryToPerform(const Selector& selector, QObject* sender);
    // Asked before a menu item targeting this responder is shown or dispatched; may set the item's
    // title and check state. The answer is whether the item is enabled.
    virtual bool validateMenuItem(MenuItem& item);

protected:
    void addHandler(const Selector& selector, Action action);

private:
    QHash<Selector, Action> actions_;
};

// The responder chain of a window: the focus widget, its ancestors with their view controllers, the
// window, the window's content view controller, then the application delegate.
namespace ResponderChain {

// The window whose chain is walked when none is given: the active window.
QList<Responder*> chain(QWidget* window = nullptr);
// The first responder in the chain that handles the selector, or null.
Responder* targetFor(const Selector& selector, QWidget* window = nullptr);
// Sends the action to the target, or when null to the chain's first taker; false when nobody took it.
bool sendAction(const Selector& selector, Responder* target, QObject* sender, QWidget* window = nullptr);

// The last link of every chain; not owned. Null clears it.
void setApplicationDelegate(Responder* delegate);
Responder* applicationDelegate();

} // namespace ResponderChain
