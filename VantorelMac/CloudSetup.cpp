#include "CloudSetup.h"

#include "Core.h"

#include "Cloud/FolderAppleCloud.h"
#include "Cloud/StoreCKCloud.h"

#include "Folders.h"
#include "UserDefaults.h"

#include <QCoreApplication>
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

// A store string's password stays out of messages, in a key=value pair or
// in a URI's user information.
QString withoutPassword(QString store)
{
    static const QRegularExpression pair(QStringLiteral("password\\s*=\\s*\\S+"));
    static const QRegularExpression userInfo(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*://[^/?#@:]*):[^/?#@]*@"));
    return store.replace(pair, QStringLiteral("password=***")).replace(userInfo, QStringLiteral("\\1:***@"));
}

QString storeName(const BackendConfig& config)
{
    return config.connection.isEmpty() ? config.sqlitePath : withoutPassword(config.connection);
}

// Stops the query, lets every queue drain, swaps, then starts the query
// again if it ran. Main thread; done on the main queue.
void switchOver(const std::shared_ptr<FolderAppleCloud>& cloud, std::function<Error()> swap, CloudSetup::Done done)
{
    const bool running = cloud->state() != FolderAppleCloud::Idle;
    cloud->stopQuery();
    cloud->wait([cloud, running, swap = std::move(swap), done = std::move(done)] {
        const Error error = swap();
        DispatchQueue::main()->async([cloud, running, error, done] {
            if (running)
                cloud->startQuery();
            done(error);
        });
    });
}

} // namespace

namespace CloudSetup {

std::shared_ptr<AppleCloud> makeAppleCloud()
{
    return std::make_shared<FolderAppleCloud>(std::make_shared<StoreCKCloud>(), UserDefaults::standard());
}

void activate(Core& core, std::function<void(bool fetched)> done)
{
    if (!core.enabledAppleCloud()) {
        if (done)
            done(false);
        return;
    }
    const std::shared_ptr<AppleCloud> cloud = core.appleCloud();
    cloud->startQuery();
    cloud->ckCloud()->fetchStorage([cloud, done = std::move(done)](bool ok) {
        if (ok)
            cloud->ckCloud()->optimizeStorageIfLucky();
        if (done)
            done(ok);
    });
    if (core.enabledPushNotification())
        cloud->subscribeRemoteNotification({});
}

Error checkDriveFolder(const QString& path)
{
    const QFileInfo folder(path);
    if (path.isEmpty() || !folder.isDir())
        return refusal(QStringLiteral("The folder %1 does not exist."), path);
    if (::access(QFile::encodeName(path).constData(), W_OK | X_OK) != 0)
        return refusal(QStringLiteral("The folder %1 cannot be written."), path);
    if (isInside(path, Core::shared().documentDirectory()) || isInside(path, Core::shared().cachesDirectory()))
        return refusal(QStringLiteral("The folder %1 lies inside the notes' own folders."), path);
    return Error();
}

bool setDriveFolder(FolderAppleCloud& cloud, const QString& path, Error* error)
{
    Error refused = checkDriveFolder(path);
    if (refused.isNull() && cloud.container().chooseFolder(QFileInfo(path).absoluteFilePath(), &refused)) {
        cloud.container().check();
        return true;
    }
    setError(error, refused);
    return false;
}

bool isConnectionString(const QString& store)
{
    if (store.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
        || store.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive))
        return true;
    return !store.contains(QLatin1String("://")) && store.contains(QLatin1Char('='));
}

std::optional<BackendConfig> storeConfig(const QString& store, Error* error)
{
    BackendConfig config;
    if (isConnectionString(store)) {
        config.connection = store;
        return config;
    }
    if (store.isEmpty() || store.contains(QLatin1String("://"))) {
        setError(error, refusal(QStringLiteral("The record store \"%1\" is neither a PostgreSQL connection string "
                                               "nor the path of a SQLite file."),
                                withoutPassword(store)));
        return std::nullopt;
    }
    // A relative path is taken under the data folder, never the working folder.
    const QString data = QDir::cleanPath(Folders::data());
    config.sqlitePath = QDir::cleanPath(QDir::isAbsolutePath(store) ? store : data + QLatin1Char('/') + store);
    if (!QDir::isAbsolutePath(store) && !config.sqlitePath.startsWith(data + QLatin1Char('/'))) {
        setError(error, refusal(QStringLiteral("The record store %1 leads outside the data folder."), store));
        return std::nullopt;
    }
    return config;
}

std::shared_ptr<Container> openRecordStore(const StoreCKCloud& relay, const BackendConfig& config, Error* error)
{
    Error failure;
    std::shared_ptr<Container> container = relay.openContainer(config, &failure);
    if (!container)
        setError(error, Error::make(QStringLiteral("NSCocoaErrorDomain"), 4,
                                    QStringLiteral("The record store %1 cannot be used: %2")
                                        .arg(storeName(config), failure.localizedDescription())));
    return container;
}

QStringList storeStatus(const StoreCKCloud& relay)
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("CloudSetup", text); };
    const QString inUse = relay.storeInUse();
    QStringList lines{inUse.isEmpty() ? tr("Records go to: no store yet") : tr("Records go to: %1").arg(withoutPassword(inUse))};
    if (const Error failure = relay.lastFetchFailure(); !failure.isNull())
        lines += tr("Record store: %1").arg(failure.localizedDescription().simplified());
    if (const auto refused = relay.lastRefusal())
        lines += tr("Not in use: %1 (%2)")
                     .arg(withoutPassword(refused->location), refused->error.localizedDescription().simplified());
    return lines;
}

bool setRecordStore(StoreCKCloud& relay, const BackendConfig& config, Error* error)
{
    std::shared_ptr<Container> container = openRecordStore(relay, config, error);
    if (!container)
        return false;
    relay.setContainer(std::move(container), config);
    return true;
}

void changeDriveFolder(const std::shared_ptr<FolderAppleCloud>& cloud, const QString& path, Done done)
{
    if (const Error refused = checkDriveFolder(path); !refused.isNull())
        return done(refused);
    cloud->holdWrites();
    switchOver(cloud, [cloud, path] {
        Error error;
        setDriveFolder(*cloud, path, &error);
        return error;
    }, [cloud, done = std::move(done)](const Error& error) {
        cloud->releaseWrites();
        done(error);
    });
}

void changeRecordStore(const std::shared_ptr<FolderAppleCloud>& cloud, const BackendConfig& config, Done done)
{
    auto relay = std::dynamic_pointer_cast<StoreCKCloud>(cloud->ckCloud());
    DispatchQueue::global()->async([cloud, relay, config, done = std::move(done)] {
        Error error;
        std::shared_ptr<Container> container = openRecordStore(*relay, config, &error);
        DispatchQueue::main()->async([cloud, relay, config, container, error, done] {
            if (!container)
                return done(error);
            relay->holdWrites();
            switchOver(cloud, [relay, config, container] {
                relay->setContainer(container, config);
                return Error();
            }, done);
        });
    });
}

} // namespace CloudSetup
