#include "VGAbstractLogger.h"

#include "VGLog.h"

VGAbstractLogger::VGAbstractLogger(const QString& loggerName)
    : loggerName_(loggerName), loggerQueue_(DispatchQueue::createSerial(loggerName))
{
}

void VGAbstractLogger::logMessage(const VGLogMessage& /*message*/) {}

VGLogFormatterPtr VGAbstractLogger::logFormatter()
{
    return readOnQueue<VGLogFormatterPtr>([this] { return formatter_; });
}

void VGAbstractLogger::setLogFormatter(VGLogFormatterPtr formatter)
{
    performOnQueue([formatter = std::move(formatter)](VGAbstractLogger& self) {
        if (formatter == self.formatter_)
            return;
        if (self.formatter_)
            self.formatter_->willRemoveFromLogger(&self);
        self.formatter_ = formatter;
        if (formatter)
            formatter->didAddToLogger(&self);
    });
}

bool VGAbstractLogger::isOnGlobalLoggingQueue() const { return VGLog::loggingQueue()->isCurrent(); }

bool VGAbstractLogger::isOnInternalLoggerQueue() const { return loggerQueue_->isCurrent(); }

void VGAbstractLogger::performOnQueue(std::function<void(VGAbstractLogger&)> block)
{
    // A logger not held by a shared pointer (only possible before it is installed) is
    // kept alive by its owner.
    std::shared_ptr<VGLogger> keep = weak_from_this().lock();
    VGLog::performOnLoggerQueue(*this, [this, keep = std::move(keep), block = std::move(block)] { block(*this); });
}

void VGAbstractLogger::performOnQueueAndWait(const DispatchBlock& block) { VGLog::performOnLoggerQueueAndWait(*this, block); }
