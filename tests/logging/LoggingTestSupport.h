#pragma once

#include "VGAbstractLogger.h"
#include "VGLog.h"
#include "VGLogMessage.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <condition_variable>
#include <ostream>
#include <mutex>
#include <vector>

#include <unistd.h>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* out) { *out << '[' << texts.join("|").toStdString() << ']'; }
inline void PrintTo(const QByteArray& bytes, std::ostream* out) { *out << '"' << bytes.toStdString() << '"'; }

// Keeps what it receives; can hold its queue until released.
class RecordingLogger : public VGAbstractLogger {
public:
    explicit RecordingLogger(const QString& name = QStringLiteral("test.recording")) : VGAbstractLogger(name) {}

    void logMessage(const VGLogMessage& message) override
    {
        {
            std::unique_lock lock(mutex);
            ++entered;
            changed.notify_all();
            changed.wait(lock, [&] { return !held; });
        }
        std::optional<QString> text = message.logMsg();
        if (formatter_)
            text = formatter_->formatLogMessage(message);
        std::lock_guard lock(mutex);
        messages.push_back(message);
        if (text)
            texts << *text;
        changed.notify_all();
    }
    void flush() override
    {
        std::lock_guard lock(mutex);
        ++flushes;
    }

    void hold()
    {
        std::lock_guard lock(mutex);
        held = true;
    }
    void release()
    {
        std::lock_guard lock(mutex);
        held = false;
        changed.notify_all();
    }
    void waitUntilEntered(int count)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered >= count; });
    }
    QStringList snapshot()
    {
        std::lock_guard lock(mutex);
        return texts;
    }
    size_t count()
    {
        std::lock_guard lock(mutex);
        return messages.size();
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    int entered = 0;
    int flushes = 0;
    std::vector<VGLogMessage> messages;
    QStringList texts;
};

// Every test starts and ends with no logger installed and nothing in flight.
class LoggingTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset()
    {
        VGLog::flushLog();
        VGLog::removeAllLoggers();
        Dispatch::waitUntilIdle();
    }
};

// Sends standard error to a file while it lives.
class StderrCapture {
public:
    StderrCapture()
    {
        file_.open();
        fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(file_.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }
    QByteArray text()
    {
        restore();
        QFile read(file_.fileName());
        read.open(QIODevice::ReadOnly);
        return read.readAll();
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    QTemporaryFile file_;
    int saved_ = -1;
};

#include "VGTTYLogger.h"

// The shared terminal logger, made with a 256-colour terminal type.
inline std::shared_ptr<VGTTYLogger> sharedTTYLogger()
{
    qputenv("TERM", "xterm-256color");
    return VGTTYLogger::sharedInstance();
}
