#include "kit/AnimationContext.h"

#include "Dispatch.h"

#include <QCoreApplication>
#include <QGraphicsOpacityEffect>
#include <QHash>
#include <QAnimationGroup>
#include <QParallelAnimationGroup>
#include <QPointer>
#include <QPropertyAnimation>
#include <QWidget>

#include <atomic>

namespace {

std::atomic<bool> testMode = false;

using Key = std::pair<const QObject*, QByteArray>;
QHash<Key, QPointer<QPropertyAnimation>>& running()
{
    static QHash<Key, QPointer<QPropertyAnimation>> animations;
    return animations;
}

// A group restarts a child that is merely stopped, so the animation leaves its group.
void discard(QPropertyAnimation* animation)
{
    if (QAnimationGroup* group = animation->group())
        group->removeAnimation(animation);
    animation->stop();
    animation->deleteLater();
}

void stopRunning(QObject* object, const QByteArray& property)
{
    if (const QPointer<QPropertyAnimation> old = running().take({object, property}))
        discard(old);
}

QGraphicsOpacityEffect* opacityEffect(QWidget* widget)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        effect->setOpacity(1);
        widget->setGraphicsEffect(effect);
    }
    return effect;
}

} // namespace

void AnimationContext::runGroup(double seconds, const Changes& changes, std::function<void()> completion)
{
    if (testMode)
        seconds = 0;
    // The application owns a group still running when it ends.
    auto* group = seconds > 0 ? new QParallelAnimationGroup(QCoreApplication::instance()) : nullptr;
    AnimationContext context(seconds, group);
    changes(context);
    const auto complete = [completion = std::move(completion)] {
        if (completion)
            DispatchQueue::main()->async(completion);
    };
    if (!group) {
        complete();
        return;
    }
    QObject::connect(group, &QAbstractAnimation::finished, complete);
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void AnimationContext::runGroup(const Changes& changes, std::function<void()> completion)
{
    runGroup(DefaultDuration, changes, std::move(completion));
}

void AnimationContext::setTestMode(bool on)
{
    testMode = on;
}

bool AnimationContext::isTestMode()
{
    return testMode;
}

void AnimationContext::animate(QObject* object, const QByteArray& property, const QVariant& end)
{
    stopRunning(object, property);
    if (!group_) {
        object->setProperty(property.constData(), end);
        return;
    }
    auto* animation = new QPropertyAnimation(object, property, group_);
    const auto* animatable = dynamic_cast<const AnimatableObject*>(object);
    const std::optional<double> own = animatable ? animatable->defaultAnimationForKey(property) : std::nullopt;
    animation->setDuration(int(own.value_or(seconds_) * 1000));
    animation->setEndValue(end);
    running().insert({object, property}, animation);
    const auto forget = [key = Key{object, property}, animation] {
        if (running().value(key) == animation)
            running().remove(key);
    };
    QObject::connect(animation, &QAbstractAnimation::finished, forget);
    // A target that goes mid-animation (a window closing mid-fade) takes its animation along; left in
    // the group, the animation would be restarted without a target, and its key could match a new
    // object at the same address.
    QObject::connect(object, &QObject::destroyed, animation, [forget, animation] {
        forget();
        discard(animation);
    });
    group_->addAnimation(animation);
}

void AnimationContext::setFrame(QWidget* widget, const QRect& frame)
{
    animate(widget, "geometry", frame);
}

void AnimationContext::stopFrame(QWidget* widget)
{
    stopRunning(widget, "geometry");
}

void AnimationContext::setAlpha(QWidget* widget, double alpha)
{
    animate(opacityEffect(widget), "opacity", alpha);
}

double AnimationContext::alpha(const QWidget* widget)
{
    const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}
