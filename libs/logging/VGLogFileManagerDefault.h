#pragma once

#include "VGLogFileManager.h"

#include <atomic>
#include <memory>
#include <optional>

// Log files named "<application name> yyyy-MM-dd HH-mm.log" (UTC), with " 2", " 3" …
// before the extension when the minute's name is taken, in one folder; old files
// go by count and by total size, but never the newest file while it is unarchived.
class VGLogFileManagerDefault : public VGLogFileManager {
public:
    static constexpr uint64_t DefaultMaximumNumberOfLogFiles = 5;
    static constexpr uint64_t DefaultLogFilesDiskQuota = 20 * 1024 * 1024;

    // An empty folder path takes defaultLogsDirectory().
    explicit VGLogFileManagerDefault(const QString& logsDirectory = QString());

    // $XDG_STATE_HOME/Logs/<process name>; not created here.
    static QString defaultLogsDirectory();
    // The bundle identifier, else the process name.
    static QString applicationName();
    // The file name's date ("yyyy-MM-dd HH-mm", UTC) of a time, and back.
    static QString logFileDate(double time);
    static std::optional<double> parseLogFileDate(const QString& text);
    // The UTC minute a log file's name carries; none for another name.
    static std::optional<double> dateInLogFileName(const QString& fileName);

    // Created when missing.
    QString logsDirectory() override;
    QString newLogFileName() const;
    bool isLogFile(const QString& fileName) const;

    QStringList unsortedLogFilePaths() override;
    QStringList unsortedLogFileNames() override;
    QList<VGLogFileInfo> unsortedLogFileInfos() override;
    QStringList sortedLogFilePaths() override;
    QStringList sortedLogFileNames() override;
    QList<VGLogFileInfo> sortedLogFileInfos() override;
    QString createNewLogFile() override;
    void deleteOldLogFiles();

    // A change of either limit deletes old files on the logging queue.
    uint64_t maximumNumberOfLogFiles() const override { return limits_->maximumNumberOfLogFiles; }
    void setMaximumNumberOfLogFiles(uint64_t count) override;
    uint64_t logFilesDiskQuota() const override { return limits_->logFilesDiskQuota; }
    void setLogFilesDiskQuota(uint64_t bytes) override;

private:
    struct Limits {
        std::atomic<uint64_t> maximumNumberOfLogFiles {DefaultMaximumNumberOfLogFiles};
        std::atomic<uint64_t> logFilesDiskQuota {DefaultLogFilesDiskQuota};
    };
    static void deleteOldLogFiles(const QString& directory, const Limits& limits);
    void limitsDidChange();

    const QString logsDirectory_;
    // Shared with deletions still queued when the manager goes.
    const std::shared_ptr<Limits> limits_ = std::make_shared<Limits>();
};
