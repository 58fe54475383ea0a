#include "kit/Responder.h"

#include "kit/ViewController.h"
#include "kit/Window.h"

#include <QApplication>
#include <QWidget>

bool Responder::respondsToSelector(const Selector& selector) const
{
    return actions_.contains(selector);
}

bool Responder::tryToPerform(const Selector& selector, QObject* sender)
{
    const auto action = actions_.constFind(selector);
    if (action == actions_.constEnd())
        return false;
    // A copy: the handler may replace the table it came from.
    const Action run = *action;
    run(sender);
    return true;
}

bool Responder::validateMenuItem(MenuItem&)
{
    return true;
}

void Responder::addHandler(const Selector& selector, Action action)
{
    actions_.insert(selector, std::move(action));
}

namespace ResponderChain {
namespace {

Responder* appDelegate = nullptr;

void append(QList<Responder*>& chain, Responder* responder)
{
    if (responder && !chain.contains(responder))
        chain.append(responder);
}

} // namespace

QList<Responder*> chain(QWidget* window)
{
    QList<Responder*> result;
    if (!window)
        window = QApplication::activeWindow();
    if (window) {
        window = window->window();
        auto* kitWindow = dynamic_cast<Window*>(window);
        ViewController* content = kitWindow ? kitWindow->contentViewController() : nullptr;
        for (QWidget* widget = window->focusWidget(); widget && widget != window; widget = widget->parentWidget()) {
            append(result, dynamic_cast<Responder*>(widget));
            if (ViewController* controller = ViewController::of(widget); controller != content)
                append(result, controller);
        }
        append(result, kitWindow);
        append(result, content);
    }
    append(result, appDelegate);
    return result;
}

Responder* targetFor(const Selector& selector, QWidget* window)
{
    for (Responder* responder : chain(window))
        if (responder->respondsToSelector(selector))
            return responder;
    return nullptr;
}

bool sendAction(const Selector& selector, Responder* target, QObject* sender, QWidget* window)
{
    if (!target)
        target = targetFor(selector, window);
    return target && target->tryToPerform(selector, sender);
}

void setApplicationDelegate(Responder* delegate)
{
    appDelegate = delegate;
}

Responder* applicationDelegate()
{
    return appDelegate;
}

} // namespace ResponderChain
