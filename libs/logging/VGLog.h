#pragma once

#include "Dispatch.h"
#include "LogFlag.h"
#include "VGLogMessage.h"
#include "VGLogger.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <concepts>
#include <functional>
#include <string>

// The process-wide hub: every message goes to each installed logger whose level
// has the message's flag, on that logger's own serial queue. Each logger sees
// messages in the order they were queued; at most 1,000 messages are queued or
// in delivery, and the caller of the next one waits. A synchronous message has
// been handled by every logger when the call returns. Code logs through the
// LogInfo / LogError macros of Log.h.
class VGLog {
public:
    static constexpr int MaximumOutstandingMessages = 1000;

    // "vg.logging": the queue of the library's own housekeeping.
    static DispatchQueuePtr loggingQueue();

    static void addLogger(VGLoggerPtr logger, int32_t level = LogLevelEverything);
    // Takes out the first node holding this very logger.
    static void removeLogger(const VGLoggerPtr& logger);
    static void removeAllLoggers();
    static QList<VGLoggerPtr> allLoggers();

    // The logging call: formats on the caller (%1, %2 … filled by the arguments,
    // each turned into text), then queues the message. A null format logs nothing.
    template <typename... Args>
    static void log(bool asynchronous, int32_t level, int32_t flag, int32_t context, const char* file,
                    const char* function, int32_t line, QVariant tag, const QString& format,
                    const Args&... args)
    {
        if (format.isNull())
            return;
        queueLogMessage(VGLogMessage(formatText(format, args...), level, flag, context, file, function, line,
                                     std::move(tag)),
                        asynchronous);
    }
    static void log(bool asynchronous, VGLogMessage message) { queueLogMessage(std::move(message), asynchronous); }
    static void queueLogMessage(VGLogMessage message, bool asynchronous);

    // Returns when every logger has handled every message queued before and flushed.
    static void flushLog();
    // The flush at exit; it gives up on loggers that take longer than a couple of seconds.
    static void applicationWillTerminate();

    // A class that lets its log level be read and set by name.
    static void registerClass(const QString& name, std::function<int32_t()> logLevel,
                              std::function<void(int32_t)> setLogLevel);
    static bool isRegisteredClass(const QString& name);
    static QStringList registeredClassNames();
    // -1 for a name that is not registered.
    static int32_t logLevelForClassWithName(const QString& name);
    static void setLogLevelForClassWithName(int32_t level, const QString& name);

    // For loggers: runs the block on the logger's queue after everything already
    // queued for it (directly on its queue when the logger is not installed).
    static void performOnLoggerQueue(VGLogger& logger, DispatchBlock block);
    // The same, waiting for the block; on the logger's own queue it runs at once.
    static void performOnLoggerQueueAndWait(VGLogger& logger, const DispatchBlock& block);
    // True on the queue of any installed logger, where the library never waits.
    static bool isOnLoggerQueue();

    // Turns one argument of the logging call into text.
    static QString argument(const QString& value) { return value; }
    static QString argument(QStringView value) { return value.toString(); }
    static QString argument(const char* value) { return QString::fromUtf8(value); }
    static QString argument(const QByteArray& value) { return QString::fromUtf8(value); }
    static QString argument(const std::string& value) { return QString::fromStdString(value); }
    static QString argument(QChar value) { return QString(value); }
    template <std::integral T>
    static QString argument(T value) { return QString::number(value); }
    template <std::floating_point T>
    static QString argument(T value) { return QString::number(value, 'g', 15); }

    template <typename... Args>
    static QString formatText(const QString& format, const Args&... args)
    {
        if constexpr (sizeof...(Args) == 0)
            return format;
        else
            return format.arg(argument(args)...);
    }
};
