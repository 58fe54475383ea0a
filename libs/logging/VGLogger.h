#pragma once

#include "Dispatch.h"
#include "VGLogFormatter.h"

#include <QString>

#include <memory>

class VGLogMessage;

// A destination for log messages. Every call below except the formatter accessors
// is made by the engine on the logger's own serial queue.
class VGLogger : public std::enable_shared_from_this<VGLogger> {
public:
    virtual ~VGLogger() = default;

    virtual void logMessage(const VGLogMessage& message) = 0;
    virtual VGLogFormatterPtr logFormatter() = 0;
    virtual void setLogFormatter(VGLogFormatterPtr formatter) = 0;

    virtual void didAddLogger() {}
    virtual void willRemoveLogger() {}
    virtual void flush() {}
    // After a run of logMessage() calls: a logger that gathers writes makes them here.
    // The messages of the run count as handled only once this returns.
    virtual void didLogBatch() {}
    // The queue the logger wants to be called on; without one the engine makes one
    // labelled with loggerName().
    virtual DispatchQueuePtr loggerQueue() const { return nullptr; }
    virtual QString loggerName() const { return {}; }
};

using VGLoggerPtr = std::shared_ptr<VGLogger>;
