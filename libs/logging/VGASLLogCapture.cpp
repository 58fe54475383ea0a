#include "VGASLLogCapture.h"

#include "Clock.h"
#include "Dispatch.h"
#include "LogFlag.h"
#include "VGASLLogger.h"
#include "VGLog.h"

#include <QByteArray>
#include <QFile>

#include <cstring>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>

#include <systemd/sd-journal.h>
#include <unistd.h>

namespace {

struct Capture {
    std::atomic<bool> capturing {false};
    std::atomic<int32_t> level {LogLevelAll};
    std::mutex mutex;
    QString directory;

    // Touched only on the capture's queue, so passes never overlap.
    DispatchQueuePtr queue = DispatchQueue::createSerial(QStringLiteral("vg.logging.capture"));
    sd_journal* journal = nullptr;
    uint64_t startMicroseconds = 0;
    // The newest record handled by any capture of this journal: a restart within the
    // same second does not hand the same records out again.
    uint64_t lastSeenMicroseconds = 0;
    std::unique_ptr<DispatchReadSource> source;
};

Capture& capture()
{
    static Capture* const state = new Capture; // lives with the process
    return *state;
}

// The value of a field of the current entry; null when it has none.
QByteArray field(sd_journal* journal, const char* name)
{
    const void* data = nullptr;
    size_t length = 0;
    if (sd_journal_get_data(journal, name, &data, &length) < 0)
        return {};
    const size_t prefix = std::strlen(name) + 1;
    if (length < prefix)
        return {};
    return QByteArray(static_cast<const char*>(data) + prefix, qsizetype(length - prefix));
}

void deliverCurrentEntry(Capture& c)
{
    uint64_t realtime = 0;
    if (sd_journal_get_realtime_usec(c.journal, &realtime) < 0 || realtime < c.startMicroseconds)
        return;
    c.lastSeenMicroseconds = std::max(c.lastSeenMicroseconds, realtime);
    if (!field(c.journal, VGASLLogger::MarkerField).isNull() || field(c.journal, "_TRANSPORT") == "stdout")
        return;
    const QByteArray text = field(c.journal, "MESSAGE");
    const QByteArray priority = field(c.journal, "PRIORITY");
    bool numeric = false;
    const int level = priority.toInt(&numeric);
    if (text.isNull() || !numeric)
        return;
    const auto routing = VGASLLogCapture::routingForLevel(level);
    const int32_t captureLevel = c.level;
    if (!(captureLevel & routing.flag))
        return;
    VGLog::log(!routing.synchronous,
               VGLogMessage(QString::fromUtf8(text), captureLevel, routing.flag, 0, VGASLLogger::CaptureFile, nullptr,
                            0, {}, 0, double(realtime) / 1e6));
}

void readNewEntries(Capture& c)
{
    while (c.journal && sd_journal_next(c.journal) > 0)
        deliverCurrentEntry(c);
}

void open(Capture& c)
{
    QString directory;
    {
        std::lock_guard lock(c.mutex);
        directory = c.directory;
    }
    const int opened = directory.isEmpty()
        ? sd_journal_open(&c.journal, SD_JOURNAL_LOCAL_ONLY)
        : sd_journal_open_directory(&c.journal, QFile::encodeName(directory).constData(), 0);
    if (opened < 0) {
        c.journal = nullptr;
        return;
    }
    c.startMicroseconds = std::max(uint64_t(Clock::now()) * 1000000, c.lastSeenMicroseconds + 1);
    const QByteArray pid = "_PID=" + QByteArray::number(getpid());
    sd_journal_add_match(c.journal, pid.constData(), 0);
    sd_journal_seek_realtime_usec(c.journal, c.startMicroseconds);
    const int fd = sd_journal_get_fd(c.journal);
    if (fd >= 0) {
        c.source = std::make_unique<DispatchReadSource>(fd, c.queue, [&c] {
            if (c.journal && sd_journal_process(c.journal) != SD_JOURNAL_NOP)
                readNewEntries(c);
        });
    }
    readNewEntries(c);
}

void close(Capture& c)
{
    c.source.reset();
    if (c.journal)
        sd_journal_close(c.journal);
    c.journal = nullptr;
}

} // namespace

void VGASLLogCapture::start()
{
    Capture& c = capture();
    if (c.capturing.exchange(true))
        return;
    c.queue->async([&c] { open(c); });
}

void VGASLLogCapture::stop()
{
    Capture& c = capture();
    if (!c.capturing.exchange(false))
        return;
    c.queue->async([&c] { close(c); });
}

bool VGASLLogCapture::isCapturing() { return capture().capturing; }

int32_t VGASLLogCapture::captureLogLevel() { return capture().level; }

void VGASLLogCapture::setCaptureLogLevel(int32_t level) { capture().level = level; }

void VGASLLogCapture::setJournalDirectory(const QString& directory)
{
    Capture& c = capture();
    std::lock_guard lock(c.mutex);
    c.directory = directory;
    c.queue->async([&c] { c.lastSeenMicroseconds = 0; });
}

VGASLLogCapture::Routing VGASLLogCapture::routingForLevel(int level)
{
    switch (level) {
    case 0:
    case 1:
    case 2: return {LogFlagError, true};
    case 3: return {LogFlagWarning, false};
    case 4: return {LogFlagInfo, false};
    case 5: return {LogFlagDebug, false};
    default: return {LogFlagVerbose, false};
    }
}
