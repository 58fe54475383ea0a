#include "KitTestSupport.h"

#include "kit/AnimationContext.h"

#include "Dispatch.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {

// Every test here runs its animations at duration 0.
class AnimationsOff : public ::testing::Environment {
public:
    void SetUp() override { AnimationContext::setTestMode(true); }
};

const auto* const animationsOff = ::testing::AddGlobalTestEnvironment(new AnimationsOff);

} // namespace

RecordingController::RecordingController(const QList<const char*>& selectors)
{
    for (const char* selector : selectors)
        handle(selector);
}

void RecordingController::handle(const char* selector)
{
    addHandler(Selector(selector), [this, name = QByteArray(selector)](QObject* sender) { calls.append({name, sender}); });
}

bool RecordingController::validateMenuItem(MenuItem&)
{
    return enables;
}

void settle()
{
    DispatchQueue::drainMain();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}
