#pragma once

#include "Error.h"

#include <QString>

#include <memory>

class AppleCloud;
class FolderAppleCloud;
class StoreCKCloud;
struct BackendConfig;

// Choosing where cloud sync keeps its copies: the sync folder and the record
// store. A refusal names the folder or store and changes nothing.
namespace CloudSetup {

// Core's cloud: the sync folder over the record store (SQLite unless the
// settings name a server).
std::shared_ptr<AppleCloud> makeAppleCloud();

// Refuses a missing or unwritable folder, and one inside the notes or caches.
bool setDriveFolder(FolderAppleCloud& cloud, const QString& path, Error* error = nullptr);

// Opens and checks the store before the relay moves over to it.
bool setRecordStore(StoreCKCloud& relay, const BackendConfig& config, Error* error = nullptr);

} // namespace CloudSetup
