#pragma once

#include "VGAbstractLogger.h"
#include "VGLogFileManager.h"

#include <atomic>
#include <memory>
#include <optional>

#include <QByteArray>

class DispatchReadSource;
class DispatchTimer;

// Writes every message to the current log file and rolls to a new file when the
// file reaches maximumFileSize, is rollingFrequency seconds old, or is deleted or
// renamed by someone else. A rolled file is archived; the manager names new files
// and deletes old ones. All file work runs on the logger's own queue.
class VGFileLogger : public VGAbstractLogger {
public:
    static constexpr uint64_t DefaultMaximumFileSize = 1024 * 1024;
    static constexpr double DefaultRollingFrequency = 60 * 60 * 24;

    // Without a manager: a VGLogFileManagerDefault on the default folder.
    explicit VGFileLogger(std::shared_ptr<VGLogFileManager> logFileManager = nullptr);
    ~VGFileLogger() override;

    const std::shared_ptr<VGLogFileManager>& logFileManager() const { return logFileManager_; }

    // Read after, and changed in order with, the messages queued so far. 0: no size limit.
    uint64_t maximumFileSize();
    void setMaximumFileSize(uint64_t bytes);
    // Seconds; 0 or less: no age limit.
    double rollingFrequency();
    void setRollingFrequency(double seconds);

    // Set these before the logger is added.
    bool doNotReuseLogFiles() const { return doNotReuseLogFiles_; }
    void setDoNotReuseLogFiles(bool value) { doNotReuseLogFiles_ = value; }
    bool automaticallyAppendNewlineForCustomFormatters() const { return appendNewline_; }
    void setAutomaticallyAppendNewlineForCustomFormatters(bool value) { appendNewline_ = value; }

    void rollLogFile() { rollLogFileWithCompletionBlock({}); }
    // The completion runs on the main queue after the roll, also when no file was open.
    void rollLogFileWithCompletionBlock(DispatchBlock completion);

    void logMessage(const VGLogMessage& message) override;
    // Lines of one run of messages go to the file in one write.
    void didLogBatch() override;
    void willRemoveLogger() override;

    // On the logger's queue: the file being written, chosen on first use, and its
    // open descriptor (-1 when it cannot be opened).
    const VGLogFileInfo& currentLogFileInfo();
    int currentLogFileHandle();

private:
    void writePending();
    void rollLogFileNow();
    void maybeRollLogFileDueToSize();
    void maybeRollLogFileDueToAge();
    void scheduleTimerToRollLogFileDueToAge();
    void watchCurrentFile();
    void currentFileChanged();
    void reportWriteFailure(int error);
    std::optional<double> currentFileCreation() const;

    const std::shared_ptr<VGLogFileManager> logFileManager_;
    std::atomic<bool> doNotReuseLogFiles_ {false};
    std::atomic<bool> appendNewline_ {true};

    // Touched only on the logger's queue.
    uint64_t maximumFileSize_ = DefaultMaximumFileSize;
    double rollingFrequency_ = DefaultRollingFrequency;
    std::optional<VGLogFileInfo> currentLogFileInfo_;
    double currentFileOpenedAt_ = 0;
    int fd_ = -1;
    // Bytes in the file as of the last write, and lines gathered since.
    uint64_t offset_ = 0;
    QByteArray pending_;
    int inotifyFd_ = -1;
    std::unique_ptr<DispatchReadSource> watcher_;
    std::unique_ptr<DispatchTimer> rollingTimer_;
};
