#pragma once

#include "VGLogFormatter.h"

#include "Dispatch.h"

#include <QList>

#include <memory>

// Runs its formatters one after another, each on the text the one before made,
// and stops at the first that drops the message. The chain runs on the
// formatter's own queue, "vg.logging.multiformatter", so loggers may format
// through it at the same time; changes are queued there and apply to every
// format asked for after them.
class VGMultiFormatter : public VGLogFormatter {
public:
    VGMultiFormatter();

    void addFormatter(VGLogFormatterPtr formatter);
    // Every entry that is this formatter.
    void removeFormatter(const VGLogFormatterPtr& formatter);
    void removeAllFormatters();
    QList<VGLogFormatterPtr> formatters() const;
    bool isFormattingWithFormatter(const VGLogFormatterPtr& formatter) const;

    std::optional<QString> formatLogMessage(const VGLogMessage& message) override;

private:
    using Chain = QList<VGLogFormatterPtr>;
    void change(std::function<void(Chain&)> edit);

    DispatchQueuePtr queue_;
    // Touched only on queue_; the blocks hold it, so it outlives queued changes.
    std::shared_ptr<Chain> formatters_ = std::make_shared<Chain>();
};
