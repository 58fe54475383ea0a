#pragma once

#include "VGLogger.h"

// The base of the concrete loggers: a formatter and a serial queue of its own,
// labelled with the logger's name. Subclasses read formatter_ directly while they
// run on that queue.
class VGAbstractLogger : public VGLogger {
public:
    explicit VGAbstractLogger(const QString& loggerName = QStringLiteral("VGAbstractLogger"));

    void logMessage(const VGLogMessage& message) override;
    // Reflects every setLogFormatter() made before it.
    VGLogFormatterPtr logFormatter() override;
    // Applies to the messages queued after the call.
    void setLogFormatter(VGLogFormatterPtr formatter) override;
    DispatchQueuePtr loggerQueue() const override { return loggerQueue_; }
    QString loggerName() const override { return loggerName_; }

    bool isOnGlobalLoggingQueue() const;
    bool isOnInternalLoggerQueue() const;

protected:
    // Runs the block on the logger's queue after the messages already queued for it,
    // holding the logger alive until then.
    void performOnQueue(std::function<void(VGAbstractLogger&)> block);
    // Reads a value on the logger's queue, at once when already there.
    template <typename T>
    T readOnQueue(const std::function<T()>& read)
    {
        T value {};
        performOnQueueAndWait([&] { value = read(); });
        return value;
    }

    VGLogFormatterPtr formatter_;

private:
    void performOnQueueAndWait(const DispatchBlock& block);

    const QString loggerName_;
    const DispatchQueuePtr loggerQueue_;
};
