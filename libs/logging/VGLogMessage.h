#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>

// One log message, immutable once made and shared by every logger it reaches.
// file and function are borrowed from the caller (string literals) unless the
// options ask for owned copies.
class VGLogMessage {
public:
    enum Option : int32_t {
        CopyFile = 1,
        CopyFunction = 2,
    };

    // Records the creating thread's id, queue label and name; the timestamp is
    // the wall clock (seconds since 1970) unless one is given.
    VGLogMessage(QString logMsg, int32_t level, int32_t flag, int32_t context, const char* file,
                 const char* function, int32_t line, QVariant tag = {}, int32_t options = 0,
                 std::optional<double> timestamp = std::nullopt);

    int32_t logLevel() const { return logLevel_; }
    int32_t logFlag() const { return logFlag_; }
    int32_t logContext() const { return logContext_; }
    const QString& logMsg() const { return logMsg_; }
    double timestamp() const { return timestamp_; }
    const char* file() const { return file_; }
    const char* function() const { return function_; }
    int32_t lineNumber() const { return lineNumber_; }
    uint32_t machThreadID() const { return machThreadID_; }
    // Empty when the creating thread ran no queue.
    const QString& queueLabel() const { return queueLabel_; }
    // Empty when the thread has no name of its own.
    const QString& threadName() const { return threadName_; }
    const QVariant& tag() const { return tag_; }
    int32_t options() const { return options_; }

    // A copy of this message carrying another text.
    VGLogMessage withLogMsg(QString logMsg) const;

    // machThreadID in lower-case hexadecimal, no prefix, no padding.
    QString threadID() const;
    // The last path component of file without its last extension; null when file is.
    QString fileName() const;
    // function as UTF-8; null when function is.
    QString methodName() const;

private:
    int32_t logLevel_;
    int32_t logFlag_;
    int32_t logContext_;
    QString logMsg_;
    double timestamp_;
    const char* file_;
    const char* function_;
    int32_t lineNumber_;
    uint32_t machThreadID_;
    QString queueLabel_;
    QString threadName_;
    QVariant tag_;
    int32_t options_;
    // Owned copies; copies of the message share them, so the pointers above stay valid.
    QByteArray ownedFile_;
    QByteArray ownedFunction_;
};
