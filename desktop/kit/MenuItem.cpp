#include "kit/MenuItem.h"

#include "kit/Responder.h"

#include <QMenu>
#include <QMenuBar>

MenuItem::MenuItem(const QString& title, const Selector& action, QObject* parent)
    : QAction(title, parent), action_(action)
{
    setEnabled(false);
    connect(this, &QAction::triggered, this, [this] { dispatch(); });
}

void MenuItem::setState(bool on)
{
    setCheckable(true);
    setChecked(on);
}

Responder* MenuItem::currentTarget() const
{
    if (target_)
        return target_->respondsToSelector(action_) ? target_ : nullptr;
    return ResponderChain::targetFor(action_, window_);
}

bool MenuItem::validate()
{
    Responder* target = currentTarget();
    const bool enabled = target && target->validateMenuItem(*this);
    setEnabled(enabled);
    return enabled;
}

bool MenuItem::dispatch()
{
    if (!validate())
        return false;
    return currentTarget()->tryToPerform(action_, this);
}

void MenuItem::validateOnShow(QMenu* menu)
{
    connect(menu, &QMenu::aboutToShow, menu, [menu] { validateAll(menu->actions()); });
}

void MenuItem::validateAll(const QList<QAction*>& actions)
{
    for (QAction* action : actions)
        if (auto* item = qobject_cast<MenuItem*>(action))
            item->validate();
}

MenuItem* MenuItem::find(const QMenuBar* bar, const Selector& action)
{
    for (QAction* top : bar->actions()) {
        if (!top->menu())
            continue;
        for (QAction* entry : top->menu()->actions())
            if (auto* item = qobject_cast<MenuItem*>(entry); item && item->action() == action)
                return item;
    }
    return nullptr;
}
