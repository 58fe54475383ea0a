#pragma once

#include "Database.h"
#include "Error.h"

#include <QString>

#include <memory>

class PushCenter;
class StoreDatabase;

// Where a container keeps its records and who this client is. A PostgreSQL
// connection string (from here, else from the defaults) chooses the shared
// store of several machines; otherwise the records stay in a SQLite file.
struct BackendConfig {
    QString sqlitePath;                      // empty: $XDG_DATA_HOME/brindlewick/cloud/<identifier>.sqlite
    QString clientID;                        // empty: this installation's
    std::shared_ptr<PushCenter> pushCenter;  // null: PushCenter::shared()
    QString connection;                      // a libpq connection string; empty: the defaults' StoreConnectionKey
};

// A named set of databases, opened by identifier. The container joins its push
// center for as long as it is open.
class Container {
public:
    // Null with the error when the store cannot be used.
    static std::shared_ptr<Container> open(const QString& identifier, const BackendConfig& config = {},
                                           Error* error = nullptr);
    ~Container();
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    std::shared_ptr<Database> privateDatabase() const;
    const QString& containerIdentifier() const { return identifier_; }
    // A UUID kept in the store: the same for every client of it.
    const QString& containerID() const { return containerID_; }
    // This client: one per installation unless the configuration names one.
    const QString& clientID() const { return clientID_; }
    // Where the records are: the PostgreSQL connection string or the SQLite file.
    const QString& location() const { return location_; }

    // The defaults key of the PostgreSQL connection string.
    static inline const char* const StoreConnectionKey = "cloud/storeConnection";
    // The default store file of an identifier.
    static QString defaultSqlitePath(const QString& identifier);
    // This installation's client ID, made on first use.
    static QString installationClientID();

private:
    Container() = default;

    QString identifier_;
    QString containerID_;
    QString clientID_;
    QString location_;
    std::shared_ptr<StoreDatabase> database_;
    std::shared_ptr<PushCenter> pushCenter_;
};
