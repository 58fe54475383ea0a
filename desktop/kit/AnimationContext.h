#pragma once

#include <QByteArray>
#include <QRect>
#include <QVariant>

#include <functional>
#include <optional>

class QObject;
class QParallelAnimationGroup;
class QWidget;

// An object some of whose properties animate over durations of their own, whatever their group's.
class AnimatableObject {
public:
    virtual ~AnimatableObject() = default;
    // The duration of the property's animation in seconds; none for the group's.
    virtual std::optional<double> defaultAnimationForKey(const QByteArray& key) const = 0;
};

// Animates property changes as one group. The changes block names end values through the context;
// each runs from the property's current value. The completion runs once, on the main queue, after
// every animation of the group has ended. A new animation of a property stops the one running on it.
// A property of an AnimatableObject runs for its own duration. In test mode every group has duration 0:
// end values are set at once and the completion is posted.
class AnimationContext {
public:
    static constexpr double DefaultDuration = 0.25;
    using Changes = std::function<void(AnimationContext&)>;

    static void runGroup(double seconds, const Changes& changes, std::function<void()> completion = {});
    static void runGroup(const Changes& changes, std::function<void()> completion = {});

    static void setTestMode(bool on);
    static bool isTestMode();

    void animate(QObject* object, const QByteArray& property, const QVariant& end);
    void setFrame(QWidget* widget, const QRect& frame);
    // Through a QGraphicsOpacityEffect, made on first use.
    void setAlpha(QWidget* widget, double alpha);
    double duration() const { return seconds_; }

    // 1 for a widget without an opacity effect.
    static double alpha(const QWidget* widget);
    // Stops a running frame animation of the widget where it is: it is about to be placed anew.
    static void stopFrame(QWidget* widget);

private:
    AnimationContext(double seconds, QParallelAnimationGroup* group) : seconds_(seconds), group_(group) {}
    double seconds_;
    QParallelAnimationGroup* group_;
};
