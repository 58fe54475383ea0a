#include "VGDispatchQueueLogFormatter.h"

#include "Dispatch.h"
#include "VGLogMessage.h"
#include "VGLogTimestamp.h"

VGDispatchQueueLogFormatter::VGDispatchQueueLogFormatter()
{
    replacements_.insert(DispatchQueue::mainLabel(), QStringLiteral("main"));
}

QString VGDispatchQueueLogFormatter::replacementStringForQueueLabel(const QString& label) const
{
    std::lock_guard lock(mutex_);
    return replacements_.value(label);
}

void VGDispatchQueueLogFormatter::setReplacementString(const QString& replacement, const QString& label)
{
    std::lock_guard lock(mutex_);
    if (replacement.isNull())
        replacements_.remove(label);
    else
        replacements_.insert(label, replacement);
}

QString VGDispatchQueueLogFormatter::stringFromDate(double timestamp)
{
    char text[VGLogTimestamp::Length];
    VGLogTimestamp::write(text, timestamp, '-');
    return QString::fromLatin1(text, VGLogTimestamp::Length);
}

QString VGDispatchQueueLogFormatter::queueThreadLabelForLogMessage(const VGLogMessage& message) const
{
    const uint64_t minimum = minQueueLength_;
    const uint64_t maximum = maxQueueLength_;
    // The pool behind the global queue runs anyone's work: its name says nothing.
    static const QString& globalLabel = DispatchQueue::global()->label(); // the queue is never destroyed
    QString label;
    if (!message.queueLabel().isEmpty() && message.queueLabel() != globalLabel)
        label = message.queueLabel();
    else if (!message.threadName().isEmpty())
        label = message.threadName();
    if (label.isEmpty()) {
        label = message.threadID();
    } else {
        const QString replacement = replacementStringForQueueLabel(label);
        if (!replacement.isNull())
            label = replacement;
    }
    if (maximum != 0 && uint64_t(label.size()) > maximum) {
        qsizetype cut = qsizetype(maximum);
        // Never keep half of a surrogate pair.
        if (label[cut - 1].isHighSurrogate())
            --cut;
        label.truncate(cut);
    } else if (uint64_t(label.size()) < minimum) {
        label.append(QString(qsizetype(minimum) - label.size(), QLatin1Char(' ')));
    }
    return label;
}

std::optional<QString> VGDispatchQueueLogFormatter::formatLogMessage(const VGLogMessage& message)
{
    return stringFromDate(message.timestamp()) + QStringLiteral(" [") + queueThreadLabelForLogMessage(message)
        + QStringLiteral("] ") + message.logMsg();
}
