#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <optional>

// The feedback and problem-report mails of the help menu, as mailto URLs for the user's mail
// application. Every reserved character of subject and body is escaped, so a "#" or "&" in a log
// arrives whole, and the URL stays well under the 128 KiB a program argument may hold.
namespace HelpMail {

inline constexpr qsizetype LogTailBytes = 24 * 1024;

// What a problem report says about the application and the machine.
struct Facts {
    QString version;
    QString build;
    QString revision;
    QString system;
    QString memory; // "<n>KB" or "N/A"
    QDateTime date;
};
Facts currentFacts();
// Resident memory in KiB from /proc/self/statm, or "N/A".
QString memoryText(const QString& statmPath = QStringLiteral("/proc/self/statm"));

// The newest log file: its path and its last LogTailBytes, cut at a line start.
struct LogTail {
    QString path;
    QString text;
};
// In the default logs folder unless another is named.
std::optional<LogTail> latestLog(const QString& logsDirectory = QString());
std::optional<LogTail> readLogTail(const QString& path);

QString feedbackSubject(const Facts& facts);
QString problemReportSubject(const Facts& facts);
QString problemReportBody(const QString& message, const Facts& facts, const std::optional<LogTail>& log);
QUrl mailURL(const QString& address, const QString& subject, const QString& body);

QUrl feedbackURL();
QUrl problemReportURL(const QString& message);

} // namespace HelpMail
