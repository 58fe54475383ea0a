#pragma once

#include "VGLogFormatter.h"

#include <functional>

// The line of a log file: "2015/03/01 09:03:04:005  core:open db" (local time,
// two blanks, the text).
class VGLogFileFormatterDefault : public VGLogFormatter {
public:
    // Writes a message's timestamp (seconds since 1970).
    using DateFormatter = std::function<QString(double timestamp)>;

    // Without a date formatter the stamp is "yyyy/MM/dd HH:mm:ss:SSS" in local time.
    explicit VGLogFileFormatterDefault(DateFormatter dateFormatter = {});

    std::optional<QString> formatLogMessage(const VGLogMessage& message) override;

    // Whether appendLine writes the line: it does unless a date formatter makes the stamp.
    bool appendsLines() const { return !dateFormatter_; }
    // The same line as formatLogMessage's, appended to out as UTF-8 without a
    // text of its own: a file logger's batch takes it as it is.
    void appendLine(const VGLogMessage& message, QByteArray& out) const;

private:
    DateFormatter dateFormatter_;
};
