#include "VGLogMessage.h"

#include "Clock.h"
#include "Dispatch.h"

#include <cerrno>
#include <cstring>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

uint32_t currentThreadID()
{
    thread_local const uint32_t id = static_cast<uint32_t>(gettid());
    return id;
}

// Threads inherit the name of the thread that made them; only a name that differs
// from the process's own counts as the thread's name (the main thread keeps it).
// Read once per thread: threads are named as they start.
QString readThreadName()
{
    char name[17] = {};
    if (prctl(PR_GET_NAME, name, 0, 0, 0) != 0 || name[0] == '\0')
        return {};
    if (gettid() != getpid() && std::strncmp(name, program_invocation_short_name, 15) == 0)
        return {};
    return QString::fromUtf8(name);
}

const QString& currentThreadName()
{
    thread_local const QString name = readThreadName();
    return name;
}

} // namespace

VGLogMessage::VGLogMessage(QString logMsg, int32_t level, int32_t flag, int32_t context, const char* file,
                           const char* function, int32_t line, QVariant tag, int32_t options,
                           std::optional<double> timestamp)
    : logLevel_(level)
    , logFlag_(flag)
    , logContext_(context)
    , logMsg_(std::move(logMsg))
    , timestamp_(timestamp ? *timestamp : Clock::nowPrecise())
    , file_(file)
    , function_(function)
    , lineNumber_(line)
    , machThreadID_(currentThreadID())
    , queueLabel_(DispatchQueue::currentLabel())
    , threadName_(currentThreadName())
    , tag_(std::move(tag))
    , options_(options)
{
    if ((options & CopyFile) && file) {
        ownedFile_ = QByteArray(file);
        file_ = ownedFile_.constData();
    }
    if ((options & CopyFunction) && function) {
        ownedFunction_ = QByteArray(function);
        function_ = ownedFunction_.constData();
    }
}

VGLogMessage VGLogMessage::withLogMsg(QString logMsg) const
{
    VGLogMessage copy = *this;
    copy.logMsg_ = std::move(logMsg);
    return copy;
}

QString VGLogMessage::threadID() const { return QString::number(machThreadID_, 16); }

QString VGLogMessage::fileName() const
{
    if (!file_)
        return {};
    const char* start = file_;
    const char* dot = nullptr;
    for (const char* p = file_; *p; ++p) {
        if (*p == '/') {
            start = p + 1;
            dot = nullptr;
        } else if (*p == '.') {
            dot = p;
        }
    }
    const char* end = dot ? dot : start + std::strlen(start);
    return QString::fromUtf8(start, end - start);
}

QString VGLogMessage::methodName() const { return function_ ? QString::fromUtf8(function_) : QString(); }
