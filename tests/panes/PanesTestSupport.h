#pragma once

#include "../store/StoreTestSupport.h"

#include "kit/AnimationContext.h"

#include "Dispatch.h"

#include <QApplication>
#include <QBackingStore>
#include <QImage>
#include <QWidget>

// Runs the queues and Qt's posted events, deferred deletions included.
inline void settle()
{
    Dispatch::waitUntilIdle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

// The colour at a point of the widget as its window's backing store holds it: what was painted on
// screen, which grab() (a fresh render) cannot show.
inline QColor paintedColour(const QWidget& widget, QPoint at)
{
    QWidget* window = widget.window();
    const auto* image = window->backingStore() ? dynamic_cast<const QImage*>(window->backingStore()->paintDevice()) : nullptr;
    return image ? image->pixelColor(widget.mapTo(window, at)) : QColor();
}

// A pane's test on the shared test Core, its animations at duration 0.
class PaneTest : public ::testing::Test {
protected:
    PaneTest() { AnimationContext::setTestMode(true); }
    Core& core = sharedTestCore();
};
