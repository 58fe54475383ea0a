#include "VGASLLogger.h"

#include "VGLogMessage.h"

#include <QByteArray>

#include <cstring>
#include <mutex>
#include <vector>

#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

namespace {

std::mutex instanceMutex;
std::shared_ptr<VGASLLogger> instance;

} // namespace

std::shared_ptr<VGASLLogger> VGASLLogger::sharedInstance()
{
    std::lock_guard lock(instanceMutex);
    if (!instance)
        instance = std::shared_ptr<VGASLLogger>(new VGASLLogger);
    return instance;
}

std::shared_ptr<VGASLLogger> VGASLLogger::create()
{
    std::lock_guard lock(instanceMutex);
    return instance ? nullptr : std::shared_ptr<VGASLLogger>(new VGASLLogger);
}

VGASLLogger::VGASLLogger()
    : VGAbstractLogger(QStringLiteral("vg.logging.aslLogger"))
    , journal_(::access("/run/systemd/journal/socket", W_OK) == 0)
{
}

int VGASLLogger::levelForFlag(int32_t flag)
{
    switch (flag) {
    case 1: return LOG_CRIT;
    case 2: return LOG_ERR;
    case 4: return LOG_WARNING;
    default: return LOG_NOTICE;
    }
}

void VGASLLogger::logMessage(const VGLogMessage& message)
{
    if (message.file() && std::strcmp(message.file(), CaptureFile) == 0)
        return;
    std::optional<QString> text = message.logMsg();
    if (formatter_)
        text = formatter_->formatLogMessage(message);
    if (!text)
        return;
    const QByteArray utf8 = text->toUtf8();
    const int level = levelForFlag(message.logFlag());
    if (journal_) {
        std::vector<QByteArray> fields;
        fields.reserve(6);
        fields.push_back("MESSAGE=" + utf8);
        fields.push_back("PRIORITY=" + QByteArray::number(level));
        if (message.file())
            fields.push_back(QByteArray("CODE_FILE=") + message.file());
        fields.push_back("CODE_LINE=" + QByteArray::number(message.lineNumber()));
        if (message.function())
            fields.push_back(QByteArray("CODE_FUNC=") + message.function());
        fields.push_back(QByteArray(MarkerField) + "=1");
        std::vector<iovec> pieces;
        pieces.reserve(fields.size());
        for (const QByteArray& field : fields)
            pieces.push_back({const_cast<char*>(field.constData()), size_t(field.size())});
        if (sd_journal_sendv(pieces.data(), int(pieces.size())) >= 0)
            return;
    }
    syslog(level, "%s", utf8.constData());
}
