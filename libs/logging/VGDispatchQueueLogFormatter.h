#pragma once

#include "VGLogFormatter.h"

#include <QHash>
#include <QString>

#include <atomic>
#include <mutex>

class VGLogMessage;

// "2026-03-02 09:05:03:042 [label] text", where the label names the queue that
// logged the message, else its thread, else the thread id in hexadecimal; the main
// queue shows as "main". Labels can be padded and cut to fixed lengths.
class VGDispatchQueueLogFormatter : public VGLogFormatter {
public:
    VGDispatchQueueLogFormatter();

    std::optional<QString> formatLogMessage(const VGLogMessage& message) override;

    QString replacementStringForQueueLabel(const QString& label) const;
    // A null replacement removes the label's entry.
    void setReplacementString(const QString& replacement, const QString& label);

    // In UTF-16 units; 0: no padding, no cut. Set before use.
    uint64_t minQueueLength() const { return minQueueLength_; }
    void setMinQueueLength(uint64_t length) { minQueueLength_ = length; }
    uint64_t maxQueueLength() const { return maxQueueLength_; }
    void setMaxQueueLength(uint64_t length) { maxQueueLength_ = length; }

    // Local time, "yyyy-MM-dd HH:mm:ss:SSS"; each thread keeps its own cached fields.
    static QString stringFromDate(double timestamp);
    QString queueThreadLabelForLogMessage(const VGLogMessage& message) const;

private:
    std::atomic<uint64_t> minQueueLength_ {0};
    std::atomic<uint64_t> maxQueueLength_ {0};
    mutable std::mutex mutex_;
    QHash<QString, QString> replacements_;
};
