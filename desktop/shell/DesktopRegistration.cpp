#include "DesktopRegistration.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

void fail(QString* failure, const QString& reason)
{
    if (failure)
        *failure = reason;
}

// An argument of the Exec key, quoted only when it must be (xdg-open's own parser knows no quotes):
// backslash, quote, backtick and dollar are escaped, and the
// backslashes of that escaping are escaped once more as the key's string value.
QString quotedProgram(const QString& program)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+,:@%=-]+$"));
    if (plain.match(program).hasMatch())
        return program;
    QString quoted;
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\\'))
            quoted += QStringLiteral("\\\\\\");
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

namespace DesktopRegistration {

QString entryText(const QString& program)
{
    QFile entry(QStringLiteral(":/brindlewick.desktop"));
    entry.open(QIODevice::ReadOnly);
    QString text = QString::fromUtf8(entry.readAll());
    text.replace(QStringLiteral("\nExec=brindlewick "), QStringLiteral("\nExec=") + quotedProgram(program) + QLatin1Char(' '));
    return text;
}

bool registerForUser(const QString& program, QString* failure)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/applications");
    QSaveFile entry(folder + QLatin1Char('/') + QLatin1String(EntryName));
    if (!QDir().mkpath(folder) || !entry.open(QIODevice::WriteOnly) || entry.write(entryText(program).toUtf8()) < 0 ||
        !entry.commit()) {
        fail(failure, QStringLiteral("cannot write %1: %2").arg(entry.fileName(), entry.errorString()));
        return false;
    }
    QProcess mime;
    mime.start(QStringLiteral("xdg-mime"), {QStringLiteral("default"), QLatin1String(EntryName),
                                            QStringLiteral("x-scheme-handler/brindlewick")});
    if (!mime.waitForFinished(10000) || mime.exitStatus() != QProcess::NormalExit || mime.exitCode() != 0) {
        fail(failure, QStringLiteral("xdg-mime failed: %1%2").arg(mime.errorString(), QString::fromLocal8Bit(mime.readAllStandardError())));
        return false;
    }
    return true;
}

} // namespace DesktopRegistration
