#pragma once

#include "../store/StoreTestSupport.h"

#include "kit/AnimationContext.h"

#include "Dispatch.h"

#include <QApplication>

// Runs the queues and Qt's posted events, deferred deletions included.
inline void settle()
{
    Dispatch::waitUntilIdle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

// A pane's test on the shared test Core, its animations at duration 0.
class PaneTest : public ::testing::Test {
protected:
    PaneTest() { AnimationContext::setTestMode(true); }
    Core& core = sharedTestCore();
};
