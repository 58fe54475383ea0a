#pragma once

#include "kit/Responder.h"
#include "kit/ViewController.h"

#include <QByteArray>
#include <QList>

#include <utility>

// A controller that handles the selectors it is given and records each call with its sender.
class RecordingController : public ViewController {
public:
    using Call = std::pair<QByteArray, QObject*>;

    explicit RecordingController(const QList<const char*>& selectors = {});
    void handle(const char* selector);

    QList<Call> calls;
    // What validateMenuItem answers.
    bool enables = true;

    bool validateMenuItem(MenuItem& item) override;
};

// Runs the main queue and Qt's posted events, deferred deletions included.
void settle();
