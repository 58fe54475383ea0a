#include "VGMultiFormatter.h"

#include "VGLogMessage.h"

void VGMultiFormatter::addFormatter(VGLogFormatterPtr formatter)
{
    QWriteLocker lock(&lock_);
    formatters_ << std::move(formatter);
}

void VGMultiFormatter::removeFormatter(const VGLogFormatterPtr& formatter)
{
    QWriteLocker lock(&lock_);
    formatters_.removeAll(formatter);
}

void VGMultiFormatter::removeAllFormatters()
{
    QWriteLocker lock(&lock_);
    formatters_.clear();
}

QList<VGLogFormatterPtr> VGMultiFormatter::formatters() const
{
    QReadLocker lock(&lock_);
    return formatters_;
}

bool VGMultiFormatter::isFormattingWithFormatter(const VGLogFormatterPtr& formatter) const
{
    QReadLocker lock(&lock_);
    return formatters_.contains(formatter);
}

std::optional<QString> VGMultiFormatter::formatLogMessage(const VGLogMessage& message)
{
    QReadLocker lock(&lock_);
    std::optional<QString> text = message.logMsg();
    for (const VGLogFormatterPtr& formatter : formatters_) {
        text = formatter->formatLogMessage(message.withLogMsg(*text));
        if (!text)
            break;
    }
    return text;
}
