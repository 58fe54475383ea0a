#include "HelpMail.h"

#include "HelpLinks.h"

#include "BundleInfo.h"
#include "VGLogFileManagerDefault.h"
#include "files/TextDecoding.h"

#include <QFile>
#include <QSysInfo>

#include <unistd.h>

namespace {

const QString Rule = QString(40, QLatin1Char('-'));

QString escaped(const QString& text, const QByteArray& keep = {})
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, keep));
}

// The code unit of a wide encoding a byte-order mark names: the whole file is in it.
int wideUnit(const std::optional<TextDecoding::Encoding>& marked)
{
    using E = TextDecoding::Encoding;
    if (marked == E::UTF32LE || marked == E::UTF32BE)
        return 4;
    if (marked == E::UTF16LE || marked == E::UTF16BE)
        return 2;
    return 1;
}

// The bytes up to and including the first line feed, read in code units of the size and order; 0
// when there is none. A tail starting mid-unit (the file's size not a whole number of units) finds none.
qsizetype firstLineLength(const QByteArray& bytes, int unit, bool bigEndian)
{
    for (qsizetype at = 0; at + unit <= bytes.size(); at += unit) {
        uint32_t value = 0;
        for (int k = 0; k < unit; ++k)
            value |= uint32_t(uchar(bytes[at + (bigEndian ? unit - 1 - k : k)])) << (8 * k);
        if (value == '\n')
            return at + unit;
    }
    return 0;
}

} // namespace

namespace HelpMail {

Facts currentFacts()
{
    const QString system = QStringLiteral("%1 (%2 %3)").arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(),
                                                             QSysInfo::kernelVersion());
    return {BundleInfo::shortVersion(), BundleInfo::buildNumber(), BundleInfo::gitRevision(), system, memoryText(),
            QDateTime::currentDateTimeUtc()};
}

QString memoryText(const QString& statmPath)
{
    QFile statm(statmPath);
    if (!statm.open(QIODevice::ReadOnly))
        return QStringLiteral("N/A");
    const QList<QByteArray> fields = statm.readLine(256).simplified().split(' ');
    bool ok = false;
    const quint64 pages = fields.size() > 1 ? fields[1].toULongLong(&ok) : 0;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (!ok || pageSize <= 0)
        return QStringLiteral("N/A");
    return QStringLiteral("%1KB").arg((pages * quint64(pageSize)) >> 10);
}

std::optional<LogTail> latestLog(const QString& logsDirectory)
{
    const QStringList paths = VGLogFileManagerDefault(logsDirectory).sortedLogFilePaths();
    if (paths.isEmpty())
        return std::nullopt;
    return readLogTail(paths.first());
}

std::optional<LogTail> readLogTail(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // A wide byte-order mark names the encoding of the whole file, so a tail from its middle is read in it.
    const std::optional<TextDecoding::Encoding> marked = TextDecoding::markedEncoding(file.peek(4));
    const int unit = wideUnit(marked);
    const bool bigEndian = marked == TextDecoding::Encoding::UTF32BE || marked == TextDecoding::Encoding::UTF16BE;
    const qint64 keep = qint64(LogTailBytes) * unit;
    const bool cut = file.size() > keep;
    if (cut)
        file.seek(file.size() - keep);
    QByteArray bytes = file.readAll();
    // Start at a whole line, so no character is split either.
    if (cut)
        bytes.remove(0, firstLineLength(bytes, unit, bigEndian));
    QString text;
    const bool decoded = unit > 1 ? TextDecoding::decodeAs(bytes, *marked, &text) : TextDecoding::decode(bytes, &text);
    if (!decoded || text.isEmpty())
        return std::nullopt;
    return LogTail{path, text};
}

QString feedbackSubject(const Facts& facts)
{
    return QStringLiteral("Brindlewick Mac Feedback (v%1-%2)").arg(facts.version, facts.build);
}

QString problemReportSubject(const Facts& facts)
{
    return QStringLiteral("Brindlewick Mac Problem Report (v%1-%2)").arg(facts.version, facts.build);
}

QString problemReportBody(const QString& message, const Facts& facts, const std::optional<LogTail>& log)
{
    QString body = QStringLiteral("\n\n\n\n\n") + Rule + QStringLiteral("\n\n");
    if (!message.isEmpty())
        body += QStringLiteral("Message: %1\n").arg(message);
    body += QStringLiteral("App: BrindlewickMac %1 (%2)\n").arg(facts.version, facts.build);
    body += QStringLiteral("Git: %1\n").arg(facts.revision);
    body += QStringLiteral("System: %1\n").arg(facts.system);
    const QDateTime utc = facts.date.toUTC();
    body += QStringLiteral("Date: %1 (%2)\n")
                .arg(utc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000")),
                     QString::number(double(utc.toMSecsSinceEpoch()) / 1000.0, 'f', 6));
    body += QStringLiteral("Memory: %1\n").arg(facts.memory);
    body += QStringLiteral("\n") + Rule + QStringLiteral("\n");
    if (log && !log->text.isEmpty()) {
        body += QStringLiteral("\n") + log->text;
        if (!log->text.endsWith(QLatin1Char('\n')))
            body += QLatin1Char('\n');
        body += QStringLiteral("Log file: %1\n").arg(log->path);
    }
    return body;
}

QUrl mailURL(const QString& address, const QString& subject, const QString& body)
{
    const QString text = QStringLiteral("mailto:%1?SUBJECT=%2&BODY=%3")
                             .arg(escaped(address, "@"), escaped(subject), escaped(body));
    return QUrl::fromEncoded(text.toLatin1(), QUrl::StrictMode);
}

QUrl feedbackURL()
{
    return mailURL(HelpLinks::supportAddress(), feedbackSubject(currentFacts()), QString());
}

QUrl problemReportURL(const QString& message)
{
    const Facts facts = currentFacts();
    return mailURL(HelpLinks::supportAddress(), problemReportSubject(facts), problemReportBody(message, facts, latestLog()));
}

} // namespace HelpMail
