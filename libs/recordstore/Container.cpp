#include "Container.h"

#include "Clock.h"
#include "Folders.h"
#include "PushCenter.h"
#include "RecordStoreError.h"
#include "PostgresBackend.h"
#include "SqliteStore.h"
#include "StoreDatabase.h"
#include "UserDefaults.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString cloudFolder() { return Folders::data() + QStringLiteral("/cloud"); }

bool isSafeIdentifier(const QString& identifier)
{
    return !identifier.isEmpty() && identifier.size() <= 200 && !identifier.startsWith(QLatin1Char('.'))
           && std::all_of(identifier.begin(), identifier.end(), [](QChar c) {
                  return c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_');
              });
}

} // namespace

QString Container::defaultSqlitePath(const QString& identifier)
{
    return cloudFolder() + QLatin1Char('/') + identifier + QStringLiteral(".sqlite");
}

QString Container::installationClientID()
{
    const QString path = cloudFolder() + QStringLiteral("/client-id");
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QString existing = QString::fromLatin1(file.readAll()).trimmed();
        if (!existing.isEmpty())
            return existing;
    }
    const QString made = Clock::newUUID();
    Folders::ensure(cloudFolder());
    // QSaveFile keeps the mode of the file it replaces: the user's alone.
    Folders::createPrivateFile(path);
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly)) {
        out.write(made.toLatin1());
        out.commit();
    }
    return made;
}

std::shared_ptr<Container> Container::open(const QString& identifier, const BackendConfig& config, Error* error)
{
    if (!isSafeIdentifier(identifier)) {
        setError(error, RecordStoreError::make(RecordStoreError::BadContainer,
                                               QStringLiteral("invalid container identifier \"%1\"").arg(identifier)));
        return nullptr;
    }
    std::shared_ptr<Container> container(new Container());
    container->identifier_ = identifier;
    container->clientID_ = config.clientID.isEmpty() ? installationClientID() : config.clientID;
    QString connection = config.connection;
    if (connection.isEmpty() && config.sqlitePath.isEmpty())
        connection = UserDefaults::standard().stringForKey(QString::fromLatin1(StoreConnectionKey));
    std::shared_ptr<StoreBackend> store;
    QString storeName;
    if (!connection.isEmpty()) {
        auto postgres = PostgresBackend::open(connection, container->clientID_, error);
        storeName = postgres ? postgres->schema() : QString();
        container->location_ = connection;
        store = std::move(postgres);
    } else {
        const QString path = config.sqlitePath.isEmpty() ? defaultSqlitePath(identifier) : config.sqlitePath;
        store = SqliteStore::open(path, container->clientID_, error);
        storeName = QFileInfo(path).completeBaseName();
        container->location_ = path;
    }
    if (!store)
        return nullptr;
    container->database_ = std::make_shared<StoreDatabase>(std::move(store), storeName, container->clientID_);
    container->containerID_ = container->database_->containerID();
    container->pushCenter_ = config.pushCenter ? config.pushCenter : PushCenter::shared();
    container->pushCenter_->addSource(container->database_);
    return container;
}

Container::~Container()
{
    if (pushCenter_)
        pushCenter_->removeSource(database_.get());
}

std::shared_ptr<Database> Container::privateDatabase() const { return database_; }
