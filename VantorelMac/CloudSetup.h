#pragma once

#include "Error.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class AppleCloud;
class Container;
class Core;
class FolderAppleCloud;
class StoreCKCloud;
struct BackendConfig;

// Choosing where cloud sync keeps its copies: the sync folder and the record
// store. A refusal names the folder or store and changes nothing.
namespace CloudSetup {

using Done = std::function<void(const Error& error)>;

// Core's cloud: the sync folder over the record store (SQLite unless the
// settings name a server). Nothing is opened yet, so an unreachable store
// never holds up the start; the first fetch reports it.
std::shared_ptr<AppleCloud> makeAppleCloud();

// The activation steps with the cloud on: the drive's query, the record
// store's fetch (then now and then its clean-up), and the push subscription
// when "pushnote" is on. Main thread; done (may be empty) after the fetch.
void activate(Core& core, std::function<void(bool fetched)> done = {});

// Why the folder cannot be the sync folder: missing, unwritable, or inside
// the notes or caches; null when it can.
Error checkDriveFolder(const QString& path);
bool setDriveFolder(FolderAppleCloud& cloud, const QString& path, Error* error = nullptr);

// The record store a setting names. A PostgreSQL connection string is
// key=value pairs or a postgres:// or postgresql:// URI; anything else names
// a SQLite file: an absolute path, or a path under the data folder, never a
// string with "://". Nothing, with the reason, when it is neither.
std::optional<BackendConfig> storeConfig(const QString& store, Error* error = nullptr);
bool isConnectionString(const QString& store);

// What the relay does with records, a line each: the store they go to, why the last fetch failed,
// and the last store asked for that was refused, which is not in use.
QStringList storeStatus(const StoreCKCloud& relay);

// Opens and checks the store; null with the error naming it otherwise.
std::shared_ptr<Container> openRecordStore(const StoreCKCloud& relay, const BackendConfig& config, Error* error);
// Opens and checks the store before the relay moves over to it.
bool setRecordStore(StoreCKCloud& relay, const BackendConfig& config, Error* error = nullptr);

// The same for a running application (main thread; done on the main queue):
// checked first, then the drive's query stops and the cloud's queues drain,
// a running fetch and writes in flight included, so no exchange of the old
// account lands in the new one; then the swap, and the query starts again.
// Folder writes asked for during the switch wait and go to the new folder.
void changeDriveFolder(const std::shared_ptr<FolderAppleCloud>& cloud, const QString& path, Done done);
// The store is opened off the main thread; writes asked for during the
// switch wait for the swap and go to the new store.
void changeRecordStore(const std::shared_ptr<FolderAppleCloud>& cloud, const BackendConfig& config, Done done);

} // namespace CloudSetup
