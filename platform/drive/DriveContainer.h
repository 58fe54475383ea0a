#pragma once

#include "Error.h"
#include "files/FileDates.h"

#include <QString>

#include <functional>
#include <mutex>

class UserDefaults;

// The sync folder that stands in for the cloud drive: a plain folder another
// tool keeps in step between computers. Its "<root>/.account" file names the
// account; the identity token is that name while the file can be read and
// matches the setting, so a folder that went away or belongs to another
// account has no token.
class DriveContainer {
public:
    static inline const char* const FolderKey = "cloud/driveFolder";
    static inline const char* const AccountKey = "cloud/driveAccount";

    explicit DriveContainer(UserDefaults& defaults);

    // Adopts the folder's account (or gives it a new one) and creates
    // "Documents/Inbox" and "Documents/Archive". False, nothing kept, on error.
    bool chooseFolder(const QString& root, Error* error = nullptr);

    QString root() const;
    // "<root>/Documents", or empty without a root.
    QString documentsPath() const;
    // The account's UUID, or empty.
    QString identityToken() const;

    // Reads the token afresh; when it differs from the last one seen, the
    // callback runs on the main queue. Any thread.
    void check();
    void setIdentityCallback(std::function<void()> callback);

private:
    // The folder's account while it has its "Documents" folder, the file read
    // again only when it changed: the token is asked for before every note of a pass.
    QString account(const QString& root) const;

    UserDefaults& defaults_;
    struct AccountCache {
        QString root;
        QByteArray documents;
        QByteArray path;
        QByteArray throughDocuments; // "<root>/Documents/../.account"
        FileDates::Version version;
        QString account;
    };
    mutable std::mutex accountMutex_;
    mutable AccountCache accountCache_;
    mutable std::mutex mutex_;
    QString lastToken_;
    std::function<void()> callback_;
};
