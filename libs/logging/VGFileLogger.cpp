#include "VGFileLogger.h"

#include "Clock.h"
#include "ConsoleLog.h"
#include "Dispatch.h"
#include "VGLogFileFormatterDefault.h"
#include "VGLogFileManagerDefault.h"
#include "VGLogIO.h"
#include "VGLogMessage.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Write failures of every file logger of the process; only the first ten are reported.
std::atomic<int> writeFailures {0};
constexpr int ReportedWriteFailures = 10;

} // namespace

VGFileLogger::VGFileLogger(std::shared_ptr<VGLogFileManager> logFileManager)
    : VGAbstractLogger(QStringLiteral("vg.logging.fileLogger"))
    , logFileManager_(logFileManager ? std::move(logFileManager) : std::make_shared<VGLogFileManagerDefault>())
{
    formatter_ = std::make_shared<VGLogFileFormatterDefault>();
}

VGFileLogger::~VGFileLogger()
{
    writePending();
    watcher_.reset();
    if (inotifyFd_ >= 0)
        ::close(inotifyFd_);
    rollingTimer_.reset();
    if (fd_ >= 0) {
        ::fsync(fd_);
        ::close(fd_);
    }
}

uint64_t VGFileLogger::maximumFileSize()
{
    return readOnQueue<uint64_t>([this] { return maximumFileSize_; });
}

void VGFileLogger::setMaximumFileSize(uint64_t bytes)
{
    performOnQueue([bytes](VGAbstractLogger& logger) {
        auto& self = static_cast<VGFileLogger&>(logger);
        self.maximumFileSize_ = bytes;
        self.maybeRollLogFileDueToSize();
    });
}

double VGFileLogger::rollingFrequency()
{
    return readOnQueue<double>([this] { return rollingFrequency_; });
}

void VGFileLogger::setRollingFrequency(double seconds)
{
    performOnQueue([seconds](VGAbstractLogger& logger) {
        auto& self = static_cast<VGFileLogger&>(logger);
        self.rollingFrequency_ = seconds;
        self.maybeRollLogFileDueToAge();
    });
}

void VGFileLogger::rollLogFileWithCompletionBlock(DispatchBlock completion)
{
    auto work = [completion = std::move(completion)](VGAbstractLogger& logger) {
        static_cast<VGFileLogger&>(logger).rollLogFileNow();
        if (completion)
            DispatchQueue::main()->async(completion);
    };
    if (isOnInternalLoggerQueue())
        work(*this);
    else
        performOnQueue(std::move(work));
}

void VGFileLogger::willRemoveLogger() { rollLogFileNow(); }

const VGLogFileInfo& VGFileLogger::currentLogFileInfo()
{
    if (currentLogFileInfo_)
        return *currentLogFileInfo_;
    const QList<VGLogFileInfo> infos = logFileManager_->sortedLogFileInfos();
    if (!infos.isEmpty()) {
        VGLogFileInfo newest = infos.first();
        const bool archived = newest.isArchived();
        const bool mustArchive = !archived
            && ((maximumFileSize_ != 0 && newest.fileSize() >= maximumFileSize_)
                || (rollingFrequency_ > 0 && newest.age() >= rollingFrequency_));
        if (!doNotReuseLogFiles_ && !archived && !mustArchive) {
            currentLogFileInfo_ = newest;
        } else if (mustArchive) {
            newest.setIsArchived(true);
            logFileManager_->didArchiveLogFile(newest.filePath());
        }
    }
    if (!currentLogFileInfo_)
        currentLogFileInfo_ = VGLogFileInfo(logFileManager_->createNewLogFile());
    return *currentLogFileInfo_;
}

int VGFileLogger::currentLogFileHandle()
{
    if (fd_ >= 0)
        return fd_;
    const QString path = currentLogFileInfo().filePath();
    // Appending keeps the lines of two running instances apart.
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0)
        return fd_;
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    offset_ = end > 0 ? uint64_t(end) : 0;
    currentFileOpenedAt_ = Clock::nowPrecise();
    scheduleTimerToRollLogFileDueToAge();
    watchCurrentFile();
    return fd_;
}

void VGFileLogger::logMessage(const VGLogMessage& message)
{
    // The default line goes straight into the batch, with no text of its own.
    // The message's text is read, never copied: a copy would write its shared
    // count, whose line the terminal logger is reading on another core.
    const auto* plain = dynamic_cast<const VGLogFileFormatterDefault*>(formatter_.get());
    const bool direct = plain && plain->appendsLines();
    std::optional<QString> formattedText;
    if (formatter_ && !direct) {
        formattedText = formatter_->formatLogMessage(message);
        if (!formattedText)
            return;
    }
    const bool formatted = direct || (formattedText && formattedText->constData() != message.logMsg().constData());
    if (currentLogFileHandle() < 0)
        return;
    const qsizetype start = pending_.size();
    if (direct)
        plain->appendLine(message, pending_);
    else
        pending_.append((formattedText ? *formattedText : message.logMsg()).toUtf8());
    const bool endsWithNewline = pending_.size() > start && pending_.endsWith('\n');
    if (!endsWithNewline && (!formatted || appendNewline_))
        pending_.append('\n');
    // The line that reaches the size limit is the file's last.
    if (maximumFileSize_ != 0 && offset_ + uint64_t(pending_.size()) >= maximumFileSize_) {
        writePending();
        maybeRollLogFileDueToSize();
    }
}

void VGFileLogger::didLogBatch() { writePending(); }

void VGFileLogger::writePending()
{
    if (pending_.isEmpty() || fd_ < 0)
        return;
    // The file is opened for appending: its size grows by what was written.
    // Lines of another instance show at the next opening.
    if (VGLogIO::writeAll(fd_, pending_.constData(), size_t(pending_.size())))
        offset_ += uint64_t(pending_.size());
    else
        reportWriteFailure(errno);
    pending_.resize(0); // keeps the capacity for the next run
}

void VGFileLogger::reportWriteFailure(int error)
{
    const int count = ++writeFailures;
    if (count <= ReportedWriteFailures)
        consoleLog(QStringLiteral("VGFileLogger.logMessage: %1").arg(QString::fromLocal8Bit(std::strerror(error))));
    if (count == ReportedWriteFailures)
        consoleLog(QStringLiteral("VGFileLogger.logMessage: Too many exceptions -- will not log any more of them."));
}

void VGFileLogger::maybeRollLogFileDueToSize()
{
    if (fd_ >= 0 && maximumFileSize_ != 0 && offset_ >= maximumFileSize_)
        rollLogFileNow();
}

std::optional<double> VGFileLogger::currentFileCreation() const
{
    if (!currentLogFileInfo_)
        return std::nullopt;
    // A file whose dates cannot be read counts from its opening, so the timer never spins.
    return currentLogFileInfo_->creationDate().value_or(currentFileOpenedAt_);
}

void VGFileLogger::maybeRollLogFileDueToAge()
{
    const auto created = currentFileCreation();
    if (rollingFrequency_ > 0 && created && Clock::nowPrecise() - *created >= rollingFrequency_)
        rollLogFileNow();
    else
        scheduleTimerToRollLogFileDueToAge();
}

void VGFileLogger::scheduleTimerToRollLogFileDueToAge()
{
    rollingTimer_.reset();
    const auto created = currentFileCreation();
    if (!created || rollingFrequency_ <= 0)
        return;
    const double delay = *created + rollingFrequency_ - Clock::nowPrecise();
    std::weak_ptr<VGLogger> weak = weak_from_this();
    rollingTimer_ = std::make_unique<DispatchTimer>(loggerQueue(), [weak] {
        if (const auto self = weak.lock())
            static_cast<VGFileLogger&>(*self).maybeRollLogFileDueToAge();
    });
    rollingTimer_->start(std::max(0.0, delay), 0, 1e-9);
}

void VGFileLogger::watchCurrentFile()
{
    inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd_ < 0)
        return;
    // An unlink shows as a change of the link count while the file is open here.
    const QByteArray path = QFile::encodeName(currentLogFileInfo_->filePath());
    if (inotify_add_watch(inotifyFd_, path.constData(), IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF) < 0) {
        ::close(inotifyFd_);
        inotifyFd_ = -1;
        return;
    }
    std::weak_ptr<VGLogger> weak = weak_from_this();
    watcher_ = std::make_unique<DispatchReadSource>(inotifyFd_, loggerQueue(), [weak] {
        if (const auto self = weak.lock())
            static_cast<VGFileLogger&>(*self).currentFileChanged();
    });
}

void VGFileLogger::currentFileChanged()
{
    alignas(inotify_event) char buffer[4096];
    bool gone = false;
    for (;;) {
        const ssize_t length = ::read(inotifyFd_, buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & (IN_MOVE_SELF | IN_DELETE_SELF))
                gone = true;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_nlink == 0)
        gone = true;
    if (gone)
        rollLogFileNow();
}

void VGFileLogger::rollLogFileNow()
{
    if (fd_ < 0)
        return;
    writePending();
    watcher_.reset();
    // Synchronised and closed off this queue: the next lines, and the caller
    // of a synchronous error among them, need not wait for the disk, nor for
    // the file watch, whose closing waits for the kernel to retire it.
    DispatchQueue::global()->async([archived = fd_, watch = inotifyFd_] {
        ::fsync(archived);
        ::close(archived);
        if (watch >= 0)
            ::close(watch);
    });
    fd_ = -1;
    inotifyFd_ = -1;
    currentLogFileInfo_->setIsArchived(true);
    logFileManager_->didRollAndArchiveLogFile(currentLogFileInfo_->filePath());
    currentLogFileInfo_.reset();
    rollingTimer_.reset();
}
