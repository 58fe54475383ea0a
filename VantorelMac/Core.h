#pragma once

#include "Store/AppleCloud.h"
#include "Store/NoteServices.h"
#include "Store/NoteStorage.h"
#include "Themes/Themeset.h"
#include "Themes/Typeset.h"

#include "Dispatch.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class SLDatabase;
class UserDefaults;

// The one process-wide object: the store's two roots, the file and database
// queues, the search database, the settings as loaded at start, the cloud
// object and the relay of note events. Notes send their events through it.
class Core : public NoteStorageListener, public NoteServices {
public:
    // What the shared Core is built from; empty fields take the user's own.
    struct Configuration {
        QString documentDirectory;     // the user's documents folder
        QString cachesDirectory;       // the user's caches folder + "V5"
        UserDefaults* defaults = nullptr; // the standard user defaults
        // Made while the shared Core is being built: it must not call shared().
        std::function<std::shared_ptr<AppleCloud>()> makeAppleCloud; // no drive, the record store on
        // For the shared Core only: the process's wall clock and UUIDs.
        std::function<double()> wallClock;             // the real clock
        std::function<QString()> uuidGenerator;        // random UUIDs
    };

    using DatabaseBlock = std::function<void(SLDatabase& db)>;

    // Only before the first shared(); false (and no effect) afterwards.
    static bool configure(Configuration configuration);
    // Created on first use, never released; it sets the roots of the note
    // paths, and the clock and UUIDs when configured.
    static Core& shared();

    Core();
    explicit Core(Configuration configuration);
    ~Core() override;
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // --- Settings: in memory only; a caller that keeps a change writes the
    // user default itself.
    bool enabledAppleCloud() const override { return enabledAppleCloud_; }
    void setEnabledAppleCloud(bool on) { enabledAppleCloud_ = on; }
    bool enabledSoundEffect() const { return enabledSoundEffect_; }
    void setEnabledSoundEffect(bool on) { enabledSoundEffect_ = on; }
    bool enabledCalculator() const { return enabledCalculator_; }
    void setEnabledCalculator(bool on) { enabledCalculator_ = on; }
    bool enabledPostTemplate() const { return enabledPostTemplate_; }
    void setEnabledPostTemplate(bool on) { enabledPostTemplate_ = on; }
    bool enabledPushNotification() const { return enabledPushNotification_; }
    void setEnabledPushNotification(bool on) { enabledPushNotification_ = on; }
    int64_t noteSortOptions() const { return noteSortOptions_; }
    void setNoteSortOptions(int64_t options) { noteSortOptions_ = options; }
    ThemeID colorTheme() const { return colorTheme_; }
    void setColorTheme(ThemeID theme) { colorTheme_ = theme; }
    TypefaceID typeFace() const { return typeFace_; }
    void setTypeFace(TypefaceID typeface) { typeFace_ = typeface; }
    SizePreset typeSize() const { return typeSize_; }
    void setTypeSize(SizePreset size) { typeSize_ = size; }
    int64_t typeSizeOffset() const { return typeSizeOffset_; }
    void setTypeSizeOffset(int64_t offset) { typeSizeOffset_ = offset; }
    // The typeface of list and menu texts, whatever the settings.
    TypefaceID menuTypeFace() const { return 0; }

    // Reads the settings; forces "icloud" and "pushnote" on, writing them back.
    void loadConfigs();

    // --- Folders, queues, cloud
    const QString& documentDirectory() const { return documentDirectory_; }
    const QString& cachesDirectory() const { return cachesDirectory_; }
    const DispatchQueuePtr& fileQueue() const override { return fileQueue_; }
    const DispatchQueuePtr& dbQueue() const { return dbQueue_; }
    const std::shared_ptr<AppleCloud>& appleCloud() const override { return appleCloud_; }
    NoteStorage& noteStorage() { return noteStorage_; }

    // --- The search database. Blocks run on dbQueue and get the open database,
    // or an inert one (no effect, no rows) while it cannot be opened.
    // Called from a block of dbQueue, syncDatabase stops the process, naming the queue.
    void syncDatabase(const DatabaseBlock& block) override;
    void asyncDatabase(DatabaseBlock block) override;
    // Closes it (through fileQueue); the next use opens it again.
    void closeDatabase();
    // Closes it and removes every index marker and the database files, so the
    // next rebuild indexes every note again.
    void dropDatabase();
    // Removes every tag and service link file and every tag's ".meta".
    void dropLinkFiles();
    // Queues on fileQueue the readable names of placeholder-named notes, the
    // indexing of every note whose index marker is missing or stale, a batch
    // per block, then the start-up tidy of what interrupted work left
    // (CoreRebuild.cpp).
    void buildTagLinkAndIndexFiles();
    // Quitting: that indexing ends with the batch under way, whatever is left.
    void stopIndexing() { indexingStopped_ = true; }

    // --- Note events, passed unchanged to noteStorage on the caller's thread.
    void addNoteStorageListener(const NoteStorageListenerPtr& listener);
    void removeNoteStorageListener(const NoteStorageListener* listener);
    void noteDidUpdateFromRemoteServer(const NotePtr& note) override;
    void noteDidDeleteFromRemoteServer(const NotePtr& note) override;
    void noteDidAddToStorage(const NotePtr& note, int storage, const QString& tag) override;
    void noteDidDeleteFromStorage(const NotePtr& note, int storage, const QString& tag) override;
    void noteDidMoveTo(const NotePtr& before, const NotePtr& after) override;
    void noteWillMoveTo(const NotePtr& before, const NotePtr& after) override;
    void noteTagDidDeleteFromStorage(const QString& name, int tag) override;
    void noteTagDidAddToStorage(const QString& name, int tag) override;

    // No sound is played.
    void playSound(int sound);

private:
    // dbQueue only.
    std::shared_ptr<SLDatabase> database();
    std::shared_ptr<SLDatabase> openDatabase(bool replaceUnreadable);
    void closeOpenDatabase();
    void closeOnFileQueue();

    QString documentDirectory_;
    QString cachesDirectory_;
    UserDefaults* defaults_;
    DispatchQueuePtr fileQueue_;
    DispatchQueuePtr dbQueue_;
    std::shared_ptr<AppleCloud> appleCloud_;
    NoteStorage noteStorage_;

    // Touched only on dbQueue; the flag lets closeDatabase look from elsewhere.
    std::shared_ptr<SLDatabase> db_;
    std::atomic<bool> dbOpen_ = false;
    std::atomic<bool> indexingStopped_ = false;

    std::atomic<bool> enabledAppleCloud_ = false;
    std::atomic<bool> enabledSoundEffect_ = false;
    std::atomic<bool> enabledCalculator_ = false;
    std::atomic<bool> enabledPostTemplate_ = false;
    std::atomic<bool> enabledPushNotification_ = false;
    std::atomic<int64_t> noteSortOptions_ = 0;
    std::atomic<ThemeID> colorTheme_ = 0;
    std::atomic<TypefaceID> typeFace_ = 0;
    std::atomic<SizePreset> typeSize_ = 0;
    std::atomic<int64_t> typeSizeOffset_ = 0;
};
