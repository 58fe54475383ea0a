#include "Container.h"

#include "Clock.h"
#include "Folders.h"
#include "PushCenter.h"
#include "RecordStoreError.h"
#include "SqliteDatabase.h"

#include <QFile>
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
    const QString path = config.sqlitePath.isEmpty() ? defaultSqlitePath(identifier) : config.sqlitePath;
    container->database_ = SqliteDatabase::open(path, container->clientID_, error);
    if (!container->database_)
        return nullptr;
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
