#pragma once

#include "files/FileTimes.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

// The service link files: one empty file per service, storage and key whose
// modification time is the change date of the note's last exchange with that
// service (Trash: the date it was deleted or moved away). Both cloud classes
// use them; the owner only picks the wording of the one message. Copies share
// the account: once it changes, a copy made before writes no Cloud or
// CloudKit link, as its exchange was with the account given up.
class LinkFiles {
public:
    enum class Owner { AppleCloud, CKCloud };

    explicit LinkFiles(Owner owner) : owner_(owner) {}
    // A copy may be taken on any thread while the account changes on another.
    LinkFiles(const LinkFiles& other) : owner_(other.owner_), account_(other.account_), generation_(other.generation_.load()) {}
    LinkFiles& operator=(const LinkFiles& other)
    {
        owner_ = other.owner_;
        account_ = other.account_;
        generation_ = other.generation_.load();
        return *this;
    }

    // Nothing when the file is missing or its date cannot be read.
    static std::optional<FileTime> modificationDate(const QString& key, int service, int storage);
    // True when the link exists, can be read and is dated at or after the date.
    static bool isNewerOrEqualTo(const QString& key, int service, int storage, const FileTime& date);
    // Equal dates count as newer.
    static bool dateIsNewerOrEqualTo(const FileTime& date, const FileTime& other) { return date >= other; }
    // How many times this process created, re-dated or removed links of the
    // service, each counted once it is done: while the count stands, a date
    // read before is what a read now would find.
    static uint64_t changes(int service);
    // Every link of every service went at once (their whole folder dropped):
    // each service's count moves on.
    static void droppedAll();

    // Creates the file (and its folder) dated changeDate, or re-dates it.
    // Without a date: logged, a new file is dated now, an existing one kept.
    void write(const QString& key, int service, int storage, const std::optional<FileTime>& changeDate) const;
    static void remove(const QString& key, int service, int storage);
    // The note left the service here: its Trash link, dated gone, is written
    // before the service's link goes, so a reader on another thread finds one.
    void retire(const QString& key, int service, int storage, const std::optional<FileTime>& gone) const;
    // A rename or storage move of the drive document: the new name inherits
    // the old Cloud link's date and the old name gets a Trash link of that
    // date. With no old Cloud link the new name gets none (it stands for a
    // document not yet saved) and the Trash link is dated now.
    void moveCloudLink(const QString& fromKey, int fromStorage, const QString& toKey, int toStorage) const;

    // Another account for the service: its links go, and older copies stop writing.
    void changeAccount(int service);
    // False for a copy made before the account changed.
    bool isCurrentAccount() const;

private:
    static void changed(int service);

    struct Account {
        std::mutex mutex;
        int generation = 0;
    };

    Owner owner_;
    std::shared_ptr<Account> account_ = std::make_shared<Account>();
    std::atomic<int> generation_ = 0;
};
