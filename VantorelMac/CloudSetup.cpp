#include "CloudSetup.h"

#include "Core.h"

#include "Cloud/FolderAppleCloud.h"
#include "Cloud/StoreCKCloud.h"

#include "UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <unistd.h>

namespace {

Error refusal(const QString& text, const QString& subject)
{
    return Error::make(QStringLiteral("NSCocoaErrorDomain"), 4, text.arg(subject));
}

bool isInside(const QString& path, const QString& folder)
{
    if (folder.isEmpty())
        return false;
    const QString outer = QFileInfo(folder).canonicalFilePath();
    const QString inner = QFileInfo(path).canonicalFilePath();
    return !outer.isEmpty() && (inner == outer || inner.startsWith(outer + QLatin1Char('/')));
}

// A connection string's password stays out of messages.
QString storeName(const BackendConfig& config)
{
    if (config.connection.isEmpty())
        return config.sqlitePath;
    QString name = config.connection;
    return name.replace(QRegularExpression(QStringLiteral("password\\s*=\\s*\\S+")), QStringLiteral("password=***"));
}

} // namespace

namespace CloudSetup {

std::shared_ptr<AppleCloud> makeAppleCloud()
{
    return std::make_shared<FolderAppleCloud>(std::make_shared<StoreCKCloud>(), UserDefaults::standard());
}

bool setDriveFolder(FolderAppleCloud& cloud, const QString& path, Error* error)
{
    const QFileInfo folder(path);
    Error refused;
    if (path.isEmpty() || !folder.isDir())
        refused = refusal(QStringLiteral("The folder %1 does not exist."), path);
    else if (::access(QFile::encodeName(path).constData(), W_OK | X_OK) != 0)
        refused = refusal(QStringLiteral("The folder %1 cannot be written."), path);
    else if (isInside(path, Core::shared().documentDirectory()) || isInside(path, Core::shared().cachesDirectory()))
        refused = refusal(QStringLiteral("The folder %1 lies inside the notes' own folders."), path);
    if (refused.isNull() && cloud.container().chooseFolder(folder.absoluteFilePath(), &refused)) {
        cloud.container().check();
        return true;
    }
    setError(error, refused);
    return false;
}

bool setRecordStore(StoreCKCloud& relay, const BackendConfig& config, Error* error)
{
    Error failure;
    std::shared_ptr<Container> container = relay.openContainer(config, &failure);
    if (!container) {
        setError(error, Error::make(QStringLiteral("NSCocoaErrorDomain"), 4,
                                    QStringLiteral("The record store %1 cannot be used: %2")
                                        .arg(storeName(config), failure.localizedDescription())));
        return false;
    }
    relay.setContainer(std::move(container), config);
    return true;
}

} // namespace CloudSetup
