#pragma once

#include "VGLogFileInfo.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

// Where rolling log files live, how new ones are named and which old ones go.
class VGLogFileManager {
public:
    virtual ~VGLogFileManager() = default;

    virtual QString logsDirectory() = 0;
    // In listing order.
    virtual QStringList unsortedLogFilePaths() = 0;
    virtual QStringList unsortedLogFileNames() = 0;
    virtual QList<VGLogFileInfo> unsortedLogFileInfos() = 0;
    // Newest creation date first.
    virtual QStringList sortedLogFilePaths() = 0;
    virtual QStringList sortedLogFileNames() = 0;
    virtual QList<VGLogFileInfo> sortedLogFileInfos() = 0;
    // Creates an empty new log file and returns its path.
    virtual QString createNewLogFile() = 0;

    // 0: no limit.
    virtual uint64_t maximumNumberOfLogFiles() const = 0;
    virtual void setMaximumNumberOfLogFiles(uint64_t count) = 0;
    // Bytes; 0: no quota.
    virtual uint64_t logFilesDiskQuota() const = 0;
    virtual void setLogFilesDiskQuota(uint64_t bytes) = 0;

    // A file found too big or too old at start and archived.
    virtual void didArchiveLogFile(const QString& /*path*/) {}
    // A file just rolled and archived.
    virtual void didRollAndArchiveLogFile(const QString& /*path*/) {}
};
