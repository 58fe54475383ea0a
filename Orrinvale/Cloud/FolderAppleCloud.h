#pragma once

#include "AppleDocument.h"
#include "HeldWrites.h"
#include "LinkFiles.h"
#include "SyncConflict.h"

#include "Store/AppleCloud.h"

#include "Dispatch.h"
#include "drive/DriveContainer.h"
#include "drive/FolderQuery.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

class HeldFolder;
class UserDefaults;

// The drive side of cloud sync over a sync folder: watches the folder's
// documents, takes changed ones into the local notes, and deletes local notes
// whose documents went away. Work runs on its ".cloud" queue; startQuery and
// stopQuery on the main thread. A step of a pass carries the pass's key and
// ends quietly once stopQuery or a newer pass changed it. The note store's
// writes are repeated on the same queue, each finished before its handler runs.
class FolderAppleCloud : public AppleCloud, public std::enable_shared_from_this<FolderAppleCloud> {
public:
    enum State { Idle = 0, Fetching = 1, Running = 2, Locked = 3 };

    // The account the Cloud link files describe; another one makes them void.
    static inline const char* const LinkedAccountKey = "cloud/driveLinkedAccount";
    static constexpr int MaxWorkers = 8;
    static constexpr qint64 MaxDocumentBytes = 16 * 1024 * 1024;
    // A save that stood aside for the conflict rule (a text taken in first, or
    // another held here by now): no failure, the rule settles the note.
    static constexpr int StoodAsideCode = 3072;

    FolderAppleCloud(std::shared_ptr<CKCloud> ckCloud, UserDefaults& defaults);
    ~FolderAppleCloud() override;

    std::shared_ptr<CKCloud> ckCloud() const override { return ckCloud_; }
    void prepareNote(const NotePtr& note, CommitHandler handler) override;
    void commitNote(const NotePtr& note, CommitHandler handler) override;
    void commitAndCloseNote(const NotePtr& note, CommitHandler handler) override;
    void renameNote(const NotePtr& from, const NotePtr& to, Handler handler) override;
    void moveNote(const NotePtr& from, const NotePtr& to, Handler handler) override;
    void deleteNote(const NotePtr& note, Handler handler) override;

    void wait(std::function<void()> block) override;
    // Writes asked for from now on wait for releaseWrites and then go to the
    // folder in force by then: none reaches a folder being given up.
    void holdWrites();
    // Main thread: reads the folder afresh, then sends the held writes.
    void releaseWrites();

    void startQuery() override;
    void stopQuery() override;
    // As stopQuery, but the query stops at once on the calling thread.
    void emergencyStopQuery();
    // Idle becomes Locked, where startQuery does nothing; unlocking goes back
    // to Idle and starts the query.
    void lockQuery();
    void unlockAndStartQuery();
    QString localizedStatus() const override;

    // The note's document path, handed over on the queue; empty at once when off.
    void fileURLForNote(const NotePtr& note, std::function<void(const QString& path)> hander);
    // Takes an open document in as the update pass takes a file: dated by the
    // file, with the same checks, commit and events; an empty text changes
    // nothing. updateFile ends quietly once the pass of updateKey is over.
    void updateFile(const AppleDocument& document, int updateKey, std::function<void()> completion);
    void updateLocalFile(const AppleDocument& document, std::function<void()> completion);
    // A document open here: the update pass leaves its file alone (its path
    // is among openingFiles) until it is closed, or until the folder watch
    // finds the file deleted from outside and the document lets it go.
    void presentDocument(const std::shared_ptr<AppleDocument>& document);
    void closeDocument(const QString& path);
    QStringList openingFiles() const;

    // The cloud switch is on and the folder has its account.
    bool quickCloudCheck() const;
    // The document's path, or empty without a folder or with an unsafe key.
    QString fileURLForKey(const QString& key, int storage) const;
    // Moves a document unless the destination exists (code 512, "FileURL");
    // nothing at the source is no error.
    static Error moveFile(const QString& source, const QString& destination);
    DriveContainer& container() { return container_; }
    const DispatchQueuePtr& queue() const { return queue_; }
    int state() const { return state_; }

private:
    struct Pass;
    using Done = std::function<void()>;

    // Running to Idle, ending the pass under way: the query, when it still has to be stopped.
    std::shared_ptr<FolderQuery> endQuery();
    void identityDidChange();
    // A token this folder has not seen before: old Cloud links go, everything is sent.
    void adoptToken(const QString& token);
    void lookUpContainer();
    void queryDidNotify(const std::shared_ptr<FolderQuery>& query, bool gathering);
    bool isCurrent(int key) const { return updateKey_ == key; }

    void updateFiles(const std::shared_ptr<FolderQuery>& query);
    bool choose(const DriveItem& item, Pass& pass);
    void runWorkers(const std::shared_ptr<Pass>& pass);
    void workerTurn(const std::shared_ptr<Pass>& pass, Done done);
    void importFile(const std::shared_ptr<Pass>& pass, const QString& path, Done done);
    // The import rows of the conflict rule; false when a link refuses the date.
    bool acceptsImport(const QString& key, int storage, const FileTime& date, const QString& path) const;
    // The drive's link (dated linked) counts the document as exchanged: dated at or after it, and not sent over this text.
    bool linkHolds(const std::optional<FileTime>& linked, const QString& key, int storage, const FileTime& date,
                   const QString& path) const;
    // Meets the local note by the conflict rule, on the file queue.
    void importText(const QString& key, int storage, const FileTime& date, const QString& text,
                    const QStringList& history, Done done);
    // File queue: the imports waiting now, their search rows written together
    // once all are in; true when more came meanwhile.
    bool takeInWaiting();
    void takeTurnForWaiting(const DispatchQueuePtr& fileQueue);
    // Commits the text as the note (its key and storage, not yet read);
    // answers what says it was taken in, to run once the text's folder is
    // flushed (nothing when the commit failed).
    Done commitImport(const SyncConflict::Incoming& incoming, const FileTime& date, const NotePtr& note);
    QStringList historyOf(const QString& path, const QString& text) const;
    // The side file's lines: the text hash its writer saved, then that text's history.
    QStringList historyFileLines(const QString& path) const;
    // "<documents>/.history/<folder>/<name>": the document's text hash, then its history.
    QString historyFileFor(const QString& path) const;
    bool takesInFirst(const NotePtr& note, const QString& path);
    bool isOpening(const QString& path) const;
    void releaseDeletedDocuments();
    void afterUpdate(const std::shared_ptr<Pass>& pass);
    void uploadOfflineDocuments(const std::shared_ptr<Pass>& pass);
    // The documents of notes moved or deleted here while the folder was off
    // go, as an online move or deletion would have taken them.
    void carryOfflineRemovals(const std::shared_ptr<Pass>& pass);
    // link: the Cloud link's date, read after the text's.
    bool shouldUpload(const QString& key, int storage, const FileTime& textDate, const std::optional<FileTime>& link) const;
    std::optional<FileTime> committedTextDate(const HeldFolder& texts, const QString& key, int storage) const;
    void trashDocumentsMissingFromCloud(const std::shared_ptr<Pass>& pass);
    bool isHealthyForTrash(const QList<QStringList>& linked) const;
    QSet<QString> documentNames(int storage) const;
    void trashNote(const QString& key, int storage);
    void save(const NotePtr& note, CommitHandler handler);

    // The file checks the passes and the writes share; exists is true for a broken link too.
    static QString storageName(int storage);
    static bool isImportableFile(const QString& path);
    static bool exists(const QString& path);
    static bool isLinkedFolder(const QString& folder);

    bool hasDocuments() const;
    void onQueue(std::function<void()> work, std::function<void()> off);
    std::optional<AppleDocument> saveDocument(const NotePtr& note, Error* error);
    // Saves and links the document; its date, or nothing on failure.
    std::optional<FileTime> commitNow(const NotePtr& note, Error* error);
    void prepareNow(const NotePtr& note, const CommitHandler& handler);
    Error deleteFile(const QString& path);
    // Keeps a text this computer never held as a fork before the document goes.
    Error deleteNow(const NotePtr& note);
    void relocate(const NotePtr& from, const NotePtr& to, bool rename, Handler handler);
    // True when the document at path holds a text other than the note's.
    bool holdsAnotherText(const NotePtr& note, const QString& path) const;
    void keepTextNeverHeld(const NotePtr& note, const QString& path) const;
    void dateMovedDocument(const NotePtr& to, const QString& path) const;
    void moveHistoryFile(const QString& source, const QString& destination) const;

    std::shared_ptr<CKCloud> ckCloud_;
    UserDefaults& defaults_;
    DriveContainer container_;
    DispatchQueuePtr queue_;
    LinkFiles links_{LinkFiles::Owner::AppleCloud};

    std::atomic<int> state_ = Idle;
    std::atomic<int> updateKey_ = 0;
    std::atomic<bool> requireUploadOfflineDocuments_ = false;
    std::atomic<bool> needTrash_ = false;
    // Counters of the current pass, read by the status line.
    std::atomic<int> startedFiles_ = 0;
    std::atomic<int> finishedFiles_ = 0;
    std::atomic<int> listedFiles_ = 0;

    QString token_; // main thread
    mutable std::mutex mutex_;
    QString documents_; // empty while no container is known
    std::shared_ptr<FolderQuery> lastQuery_;
    QHash<QString, std::shared_ptr<AppleDocument>> presented_;
    HeldWrites held_;

    // Imports waiting for their turn on the file queue, taken in a few at once.
    struct Waiting {
        SyncConflict::Incoming incoming;
        FileTime date;
        Done done;
    };
    std::mutex waitingMutex_;
    std::deque<Waiting> waiting_;
    bool takingIn_ = false;
};
