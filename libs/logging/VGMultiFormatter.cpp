#include "VGMultiFormatter.h"

#include "VGLogMessage.h"

VGMultiFormatter::VGMultiFormatter() : queue_(DispatchQueue::createSerial(QStringLiteral("vg.logging.multiformatter"))) {}

void VGMultiFormatter::change(std::function<void(Chain&)> edit)
{
    queue_->async([chain = formatters_, edit = std::move(edit)] { edit(*chain); });
}

void VGMultiFormatter::addFormatter(VGLogFormatterPtr formatter)
{
    change([formatter = std::move(formatter)](Chain& chain) { chain << formatter; });
}

void VGMultiFormatter::removeFormatter(const VGLogFormatterPtr& formatter)
{
    change([formatter](Chain& chain) { chain.removeAll(formatter); });
}

void VGMultiFormatter::removeAllFormatters()
{
    change([](Chain& chain) { chain.clear(); });
}

QList<VGLogFormatterPtr> VGMultiFormatter::formatters() const
{
    Chain copy;
    queue_->sync([&] { copy = *formatters_; });
    return copy;
}

bool VGMultiFormatter::isFormattingWithFormatter(const VGLogFormatterPtr& formatter) const
{
    bool found = false;
    queue_->sync([&] { found = formatters_->contains(formatter); });
    return found;
}

std::optional<QString> VGMultiFormatter::formatLogMessage(const VGLogMessage& message)
{
    std::optional<QString> text = message.logMsg();
    queue_->sync([&] {
        for (const VGLogFormatterPtr& formatter : std::as_const(*formatters_)) {
            text = formatter->formatLogMessage(message.withLogMsg(*text));
            if (!text)
                break;
        }
    });
    return text;
}
