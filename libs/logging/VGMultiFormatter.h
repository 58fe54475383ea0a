#pragma once

#include "VGLogFormatter.h"

#include <QList>
#include <QReadWriteLock>

// Runs its formatters one after another, each on the text the one before made,
// and stops at the first that drops the message. Loggers may format through it at
// the same time; changes wait for running formats and apply to the next ones.
class VGMultiFormatter : public VGLogFormatter {
public:
    void addFormatter(VGLogFormatterPtr formatter);
    // Every entry that is this formatter.
    void removeFormatter(const VGLogFormatterPtr& formatter);
    void removeAllFormatters();
    QList<VGLogFormatterPtr> formatters() const;
    bool isFormattingWithFormatter(const VGLogFormatterPtr& formatter) const;

    std::optional<QString> formatLogMessage(const VGLogMessage& message) override;

private:
    mutable QReadWriteLock lock_;
    QList<VGLogFormatterPtr> formatters_;
};
