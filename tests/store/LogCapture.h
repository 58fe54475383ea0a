#pragma once

#include "VGLog.h"
#include "VGLogMessage.h"
#include "VGLogger.h"

#include <QStringList>

#include <mutex>

// Collects the text of every logged message while installed.
class LogCapture : public VGLogger {
public:
    static std::shared_ptr<LogCapture> install()
    {
        auto capture = std::make_shared<LogCapture>();
        VGLog::addLogger(capture);
        return capture;
    }

    ~LogCapture() override = default;

    void uninstall() { VGLog::removeLogger(shared_from_this()); }

    // Every message queued so far, once the engine has delivered it.
    QStringList lines()
    {
        VGLog::flushLog();
        std::lock_guard lock(mutex_);
        return lines_;
    }

    void logMessage(const VGLogMessage& message) override
    {
        std::lock_guard lock(mutex_);
        lines_.append(message.logMsg());
    }
    VGLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(VGLogFormatterPtr) override {}

private:
    std::mutex mutex_;
    QStringList lines_;
};
