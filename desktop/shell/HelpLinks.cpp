#include "HelpLinks.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>

namespace HelpLinks {

QString supportAddress()
{
    return QStringLiteral("support@brindlewick.net");
}

const QList<Page>& pages()
{
    static const QList<Page> table = {
        {"showMacAppStore:", "https://brindlewick.net/desktop"},
        {"showiPhoneAppStore:", "https://brindlewick.net/phone"},
        {"showSyntax:", "https://brindlewick.net/help/syntax"},
        {"showImportExportNotes:", "https://brindlewick.net/help/import-export"},
        {"showKeyboardShortcuts:", "https://brindlewick.net/help/shortcuts"},
        {"showSocialNetwork:", "https://social.brindlewick.net/@brindlewick"},
        {"showWebsite:", "https://brindlewick.net"},
    };
    return table;
}

void openURL(const QUrl& url)
{
    // The offscreen platform opens nothing and says so at length.
    if (QGuiApplication::platformName() == QLatin1String("offscreen") || !QDesktopServices::openUrl(url))
        QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromLatin1(url.toEncoded())});
}

QString resourcePath(const QString& name)
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/brindlewick/") + name);
}

} // namespace HelpLinks
