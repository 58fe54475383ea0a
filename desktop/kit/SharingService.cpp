#include "kit/SharingService.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QMimeData>
#include <QProcess>

#include <algorithm>

namespace {

bool startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

SharingService::Launcher& launcher()
{
    static SharingService::Launcher launch = startDetached;
    return launch;
}

bool allLocalFiles(const QList<QUrl>& items)
{
    return !items.isEmpty() && std::all_of(items.begin(), items.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

// The file manager's D-Bus call that opens the folders and selects the files.
QStringList showItemsCall(const QList<QUrl>& items)
{
    QStringList uris;
    for (const QUrl& url : items)
        uris.append(url.toString(QUrl::FullyEncoded));
    return {QStringLiteral("--session"), QStringLiteral("--type=method_call"),
            QStringLiteral("--dest=org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1.ShowItems"), QStringLiteral("array:string:") + uris.join(QLatin1Char(',')),
            QStringLiteral("string:")};
}

} // namespace

QList<SharingService> SharingService::sharingServicesForItems(const QList<QUrl>& items)
{
    if (!allLocalFiles(items))
        return {};
    return {SharingService(Email), SharingService(OpenWithDefaultApplication), SharingService(ShowInFolder),
            SharingService(CopyFile)};
}

QString SharingService::title() const
{
    switch (kind_) {
    case Email:
        return QCoreApplication::translate("SharingService", "E-mail");
    case OpenWithDefaultApplication:
        return QCoreApplication::translate("SharingService", "Open in Default Application");
    case ShowInFolder:
        return QCoreApplication::translate("SharingService", "Show in Folder");
    case CopyFile:
        break;
    }
    return QCoreApplication::translate("SharingService", "Copy File");
}

QString SharingService::imageName() const
{
    switch (kind_) {
    case Email:
        return QStringLiteral("mail-message-new");
    case OpenWithDefaultApplication:
        return QStringLiteral("document-open");
    case ShowInFolder:
        return QStringLiteral("folder-open");
    case CopyFile:
        break;
    }
    return QStringLiteral("edit-copy");
}

bool SharingService::performWithItems(const QList<QUrl>& items) const
{
    if (!allLocalFiles(items))
        return false;
    switch (kind_) {
    case Email: {
        QStringList arguments;
        for (const QUrl& url : items)
            arguments << QStringLiteral("--attach") << url.toLocalFile();
        return launcher()(QStringLiteral("xdg-email"), arguments);
    }
    case OpenWithDefaultApplication:
        return std::all_of(items.begin(), items.end(),
                           [](const QUrl& url) { return launcher()(QStringLiteral("xdg-open"), {url.toLocalFile()}); });
    case ShowInFolder:
        return launcher()(QStringLiteral("dbus-send"), showItemsCall(items));
    case CopyFile:
        break;
    }
    auto* data = new QMimeData;
    data->setUrls(items);
    QApplication::clipboard()->setMimeData(data);
    return true;
}

void SharingService::setLauncher(Launcher launch)
{
    launcher() = launch ? std::move(launch) : startDetached;
}
