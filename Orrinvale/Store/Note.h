#pragma once

#include "Error.h"
#include "NoteIndexMarker.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class Note;
class NoteStorageListener;
class NoteSearchRow;
class NoteServices;
class SLDatabase;
class QDateTime;
namespace TextDecoding {
enum class Encoding;
}
using TextEncoding = TextDecoding::Encoding;
using NotePtr = std::shared_ptr<Note>;

// Where a note lives; 0 is none. Tag kinds share the numbering, because the
// panes and the search pass a tag kind where a storage goes.
constexpr int NoteStorageInbox = 1;
constexpr int NoteStorageArchive = 2;
constexpr int NoteTagHashtag = 4;
constexpr int NoteTagMention = 5;

// Synchronisation targets that keep a link file per note.
constexpr int NoteServiceCloud = 1;
constexpr int NoteServiceCloudKit = 2;
constexpr int NoteServiceTrash = 3;

// One note: a UTF-8 text file in a storage, its dates, its saved caret and
// scroll position, and the title and summary derived from its text. The main
// thread and the file queue both use a note, so it guards its fields inside:
// getters return copies. File work runs on the file queue. Events carry the
// note itself, so notes that send them are held by a NotePtr.
//
// The path operations are the only place that builds the path of a note's
// text file or side files. A key or tag name that could leave its folder ("",
// ".", "..", a "/" or NUL, over 255 UTF-8 bytes) gives an empty path, and every
// writer refuses an empty path.
class Note : public std::enable_shared_from_this<Note> {
public:
    using Completion = std::function<void(bool ok)>;

    // No key, the inbox, created and updated now.
    Note();
    // An existing text file; nothing is read, both dates 0 until restored.
    Note(const QString& key, int storage);
    // The file's name as key; the storage from its parent folder's name.
    explicit Note(const QUrl& fileURL);
    Note(const Note&) = delete;
    Note& operator=(const Note&) = delete;

    // --- Fields
    QString folder() const;
    void setFolder(const QString& folder);
    // The text file's name inside its storage's folder; null before the first save.
    QString key() const;
    void setKey(const QString& key);
    QString text() const;
    void setText(const QString& text);
    int64_t updatedOn() const;
    void setUpdatedOn(int64_t seconds);
    // A change made here: dated now, and after the note's last exchange with the drive and the record
    // store (a conflict can date that a little ahead), whose links would otherwise hide the change from
    // the passes that send what was not sent.
    void setUpdatedOnForChange(int64_t now);
    int64_t createdOn() const;
    void setCreatedOn(int64_t seconds);
    int storage() const;
    void setStorage(int storage);
    int64_t scrollCaret() const;
    void setScrollCaret(int64_t caret);
    double scrollCaretOffset() const;
    void setScrollCaretOffset(double offset);
    int64_t selectedCaret() const;
    void setSelectedCaret(int64_t caret);
    QString branchSignature() const;
    void setBranchSignature(const QString& signature);
    QString title() const;
    void setTitle(const QString& title);
    QString summary() const;
    void setSummary(const QString& summary);
    // Why the last read of an existing file failed; empty after a good read.
    // Such a note is never written over: the user could not see its text.
    QString readFailure() const;
    // Why the text read differs from the file's bytes (invalid UTF-8 shown as
    // U+FFFD); empty when it does not. Such a note is written only once the
    // user accepts the text as read.
    QString readCaution() const;
    void acceptReadText();
    // Takes the text of another object of the same file that no save wrote
    // yet, with what its first save owes the file's original bytes.
    void takeUnsavedTextOf(const Note& other);
    // Takes what another object of the same file last read or wrote, once
    // this one shows that object's text.
    void takeDiskIdentityOf(const Note& other);

    // Where notes send their events (Core installs itself); null sends nowhere.
    static void setEventRelay(NoteStorageListener* relay);

    // --- The text file
    // A text file larger than this is never read whole, so memory stays
    // bounded whatever lies in the folders: a note's read takes its first
    // HeadOfLargeFile bytes, which give its title, summary, tags and search
    // row, and the note is shown read-only with that reason, never written.
    // Other readers refuse such a file.
    static constexpr qint64 MaximumTextFileSize = 16 * 1024 * 1024;
    static constexpr qsizetype HeadOfLargeFile = 1024 * 1024;
    // Reads the file in whatever encoding it is in; on failure text is kept,
    // but a file too large to read whole leaves its head as the text.
    bool restoreTextFromURL(const QUrl& url, Error* error = nullptr);
    // A coordinated read of the note's own file; on failure text becomes
    // empty, or the head of a file too large to read whole.
    // `before`: the file as the caller saw it just before, instead of a look here.
    bool restoreText(Error* error = nullptr, const NoteIndexMarker::Identity* before = nullptr);
    // The same, where a file too large to read whole counts as read: its
    // head is enough to list and index the note.
    bool restoreTextOrHead(const NoteIndexMarker::Identity* before = nullptr);
    // The same read; on failure text is kept. The completion may be empty.
    void _openLocalNote(const Completion& completion);
    void _closeLocalNote(const Completion& completion);
    // Writes text atomically with the note's dates; sends the add event when
    // the file is new. The completion may be empty.
    void writeText(const Completion& completion);
    // True when nothing is at the path afterwards.
    static bool removeItemIfExistsAtPath(const QString& path);

    // --- Fork and file utilities
    // Forgets the file name: the next commit writes a new file, named after
    // the title in the same storage as a new note is.
    void forkNote();
    // The file's text in whatever encoding it is in, or null.
    static QString newTextFromURL(const QUrl& url, Error* error = nullptr);
    // UTF-8, atomically, flushed with its folder.
    static bool writeText(const QString& text, const QUrl& url, Error* error = nullptr);
    static void createImmediateDirectoryForFilePath(const QString& path);

    // --- Title, summary, hashtags and mentions
    // Derives title and summary from text.
    bool _reloadHeader(Error* error = nullptr);
    // Works out ahead, on any thread, what a commit makes of the text (title,
    // summary, tags, search content); the commit takes it instead of parsing
    // again while the text and storage are still those.
    void parseAhead();
    // Appends the text's tags as first written, one per lower-case form; all
    // of them when weak, else only strong ones. Only the first forms of each
    // kind, up to the limit, count: every tag costs a folder of its own.
    static constexpr int MaximumTagsPerKind = 1000;
    static void fillHashtags(QStringList* hashtags, QStringList* mentions, const QString& text, bool weak);
    // All capitals, with at least one cased letter: "TODO", "A1" (the styling's rule).
    static bool isStrongTag(const QString& tag);

    // --- File names
    // A name from the title that no entry of the folder uses, whatever the
    // case or Unicode normalisation; a placeholder name when the title is short.
    QString findUnusedReadableFileNameForDirectory(const QString& directory);
    // The cleaned title, for shared and exported files.
    QString shareBaseName();
    // False for placeholder names: "Untitled Note ....txt".
    static bool isReadableFileName(const QString& name);
    // "Untitled Note <UTC stamp>-<UUID>.txt".
    static QString uniqueClassicKeyFromURL(const QUrl& url = QUrl());
    // The longest name the system makes for a note: its record name adds the
    // storage's resource name and a slash ("Archive/") within 255 bytes.
    static constexpr qsizetype LongestKeyBytes = 255 - 8;
    // "<name> <6 hex>.txt": the copy a sync conflict sets aside for a text, named
    // the same on every computer that keeps that text; the name cut to fit
    // LongestKeyBytes.
    static QString forkFileName(const QString& key, const QString& text);
    // The key when it fits LongestKeyBytes; a longer one (another program's)
    // cut, with a hash of the whole key so that two sharing a start differ.
    static QString fittedKey(const QString& key);
    // The key when free in the storage, else a numbered variant ("Plan1.txt"),
    // else a placeholder name; null when all of those are taken.
    static QString findUnusedFileNameForKey(const QString& key, int storage);
    // A new inbox note holding the file's text under a free name; null when
    // the file cannot be read. Nothing is written.
    static NotePtr noteWithRemoteURL(const QUrl& url);

    // --- Side files
    // Caret, offset, selection, dates and branch signature from the meta
    // file; without one, the text file's dates (now when there is no file).
    // `hadRecord`, when given, tells whether a non-empty record was there.
    // With folder, the storage's record folder held open by the caller.
    bool restoreMeta(Error* error = nullptr, bool* hadRecord = nullptr, int folder = -1);
    // With folder, the storage's record folder held open by the caller.
    bool writeMetaFile(Error* error = nullptr, int folder = -1);
    bool removeMetaFile(Error* error = nullptr);
    // Title and summary from the header file; without one, derived from the
    // text (read first when null) and written.
    bool restoreHeader(Error* error = nullptr);
    // Derives title and summary from the text, then writes them.
    bool writeHeaderFile(Error* error = nullptr, int folder = -1);
    // Writes title and summary as they stand.
    bool writeHeaderRecord(Error* error = nullptr, int folder = -1);
    bool removeHeaderFile(Error* error = nullptr);
    bool writeIndexFile(Error* error = nullptr);
    bool removeIndexFile(Error* error = nullptr);
    // Brings the tag folders of the kind (hashtag or mention) in line with the
    // note's tags; an empty list takes the note out of every tag of the kind.
    // Only links of the given storage are touched.
    bool writeTag(int tag, const QStringList& linkFiles, int storage, bool manifest, Error* error = nullptr);

    // --- Commit (NoteCommit.cpp)
    using CloudCompletion = std::function<void(const QDateTime& fileModificationDate)>;
    using ErrorCompletion = std::function<void(const Error& error)>;
    // Saves the note locally, then hands its text to the drive when the cloud
    // is on. From the drive's handler (at once with the cloud off) the local
    // completion gets the local outcome, then the cloud completion the drive
    // file's date. Either may be empty. `written` gets the local outcome on
    // the calling thread as soon as the files are written, before the drive.
    void commitNote(Completion completion, CloudCompletion cloudCompletion = {}, const Completion& written = {});
    void commitAndCloseNote(Completion completion, CloudCompletion cloudCompletion = {},
                            const Completion& written = {});
    void _commitAndCloseLocalNote(const Completion& completion);
    // Local only. A blank note about to overwrite a readable-named file first
    // puts a copy of that file into the Trash.
    void _commitLocalNote(const Completion& completion);
    // Tag links, the search row, and the index marker once the row is in.
    // For a text its commit created, the tag link index alone says which
    // folders may hold links to tidy: no row is read for the earlier tags.
    bool writeTagLinkAndIndexFiles(bool manifest, Error* error = nullptr, bool textCreated = false);
    // The same after reading text and header; false when the text cannot be read.
    bool buildTagLinkAndIndexFiles(bool manifest, Error* error = nullptr);
    struct TagLinks;
    struct LinkedTags;
    // While one is open on a thread, the indexing steps run there hold their
    // rows back; closing it writes them in one transaction, then the markers
    // of the notes whose text files are still the ones indexed. Crashed before
    // that, the notes have no marker and are indexed again at the next start.
    // Their tag links go to helpers, made side by side with the work that
    // follows, each note's in the order of its commits; other link work on
    // the thread, the close and every marker wait for them first.
    class IndexBatch {
    public:
        IndexBatch();
        ~IndexBatch();
        IndexBatch(const IndexBatch&) = delete;
        IndexBatch& operator=(const IndexBatch&) = delete;
        // Returns once the links handed to helpers so far are made.
        void makeLinks();
        // Gives the rows held so far to the database queue and returns
        // without waiting for them or for the links; their markers follow on
        // the file queue. Readers of the database come after them in its queue.
        void handOff();

    private:
        friend class Note;
        struct Entry;
        struct Links;
        static IndexBatch* current();
        // False when no batch is open here and the links are to be made now.
        static bool holdLinks(const NotePtr& note, const TagLinks& tags, bool manifest, const LinkedTags* linkedBefore);
        // The links held by this thread's batches, made before other link work here.
        static void makeHeldLinks();
        // A note taken out of the index: its held rows go too.
        static void drop(const QString& searchKey);
        void close();
        std::vector<Entry> takeCurrent();
        static QList<bool> writeRows(SLDatabase& db, const std::vector<Entry>& entries);
        static void writeMarker(const Entry& entry);
        struct HandedOff;
        struct HandOffs;
        static HandOffs& handOffs(std::unique_lock<std::mutex>& lock);
        static void writeHandedRows(NoteServices* core, SLDatabase& db);
        static void writeMarkersOf(const HandedOff& handed, const QList<bool>& stored);

        std::vector<Entry> entries_;
        std::shared_ptr<Links> links_;
        // The notes whose links went to helpers since the last makeLinks(), by key and storage.
        std::vector<std::pair<QString, int>> linked_;
        IndexBatch* outer_;
    };
    // The tag folders (names as on disk) that held a note's links before it
    // is indexed again, per kind.
    struct LinkedTags {
        QStringList hashtags;
        QStringList mentions;
    };
    // The tag links of the indexing step; answers the row the step writes.
    // With linkedBefore covering every link the note has, only those folders
    // and the new tags' are visited; without it, every tag folder.
    NoteSearchRow writeTagLinkFiles(bool manifest, const LinkedTags* linkedBefore, Error* error = nullptr);
    // The same in parts: the tags of the text (for the row) and those it is
    // linked under in its storage, the links, and the row with the title as
    // it stands.
    struct TagLinks {
        QStringList hashtags;
        QStringList mentions;
        QStringList linkedHashtags;
        QStringList linkedMentions;
    };
    TagLinks tagLinks() const;
    // The hashtag and mention folders, open while one caller writes the links
    // of many notes in a row: each is opened at its first use, not per note.
    class KindFolders {
    public:
        KindFolders() = default;
        ~KindFolders();
        KindFolders(const KindFolders&) = delete;
        KindFolders& operator=(const KindFolders&) = delete;
        // The kind's slot: -1 until the folder is open.
        int& of(int tag) { return tag == NoteTagMention ? mentions_ : hashtags_; }

    private:
        int hashtags_ = -1;
        int mentions_ = -1;
    };
    void writeTagLinks(const TagLinks& tags, bool manifest, const LinkedTags* linkedBefore, Error* error = nullptr,
                       KindFolders* open = nullptr);
    NoteSearchRow searchRow(const TagLinks& tags) const;
    // Core's queues, database and cloud; null until Core installs itself.
    static void setServices(NoteServices* services);
    static NoteServices* services();

    // --- Move, trash, purge (NoteMove.cpp), rename (NoteRename.cpp)
    // False, with the note still in its old place, when the file cannot move.
    bool moveNoteToStorage(int storage, Error* error = nullptr);
    void trashNote(const ErrorCompletion& completion = {});
    void deleteNote(const ErrorCompletion& completion = {});
    void _trashLocalNote(const ErrorCompletion& completion);
    void _deleteLocalNote(const ErrorCompletion& completion);
    // Moves the file to a private "Purged" folder instead of the Trash.
    void purgeNote(const ErrorCompletion& completion = {});
    void _purgeLocalNote(const ErrorCompletion& completion);
    // For a note whose file is gone: its side files, tag links and row go too.
    void removeFromIndex();
    // Gives a placeholder-named note the name its title allows; nil when
    // renamed or when the title allows none yet. A note with a readable name,
    // none at all, or text its file does not hold (a save that failed) is
    // left as it is. Every save of the editing session and the start-up ask.
    void makeReadableFileNameUsingBlock(const ErrorCompletion& completion);
    // File queue, at start before any note is opened: every note of both
    // storages still under a placeholder name takes the name its title allows.
    static void makeReadableFileNames();

    // The two roots every path hangs from; the shared Core sets them once.
    static void setRootDirectories(const QString& documentDirectory, const QString& cachesDirectory);
    static QString documentRoot();
    static QString cachesRoot();

    // Names and numbers
    static QString resourceNameForStorage(int storage);
    static int storageKeyForResourceName(const QString& name);
    static QString searchNameForStorage(int storage);
    static int storageKeyForSearchName(const QString& name);
    static QString resourceNameForService(int service);
    static QString resourceNameForTag(int tag);
    static QString localizedNameForStorage(int storage);
    static QString localizedNameForHashtag(const QString& name);
    static QString localizedNameForMention(const QString& name);
    static QString localizedAccessibilityLabelForHashtag(const QString& name);
    static QString localizedAccessibilityLabelForMention(const QString& name);

    // Directories
    static QString documentDirectoryForStorage(int storage);
    static QString metaDirectoryForStorage(int storage);
    static QString headerDirectoryForStorage(int storage);
    static QString indexDirectoryForStorage(int storage);
    static QString linkDirectoryForService(int service);
    static QString linkDirectoryForService(int service, int storage);
    static QString linkDirectoryForTag(int tag);
    static QString linkDirectoryForTag(int tag, const QString& name);
    static QString linkDirectoryForTag(int tag, const QString& name, int storage);

    // Files
    static QString documentFileForKey(const QString& key, int storage);
    static QString metaFileForKey(const QString& key, int storage);
    static QString headerFileForKey(const QString& key, int storage);
    static QString indexFileForKey(const QString& key, int storage);
    static QString linkFileForKey(const QString& key, int service, int storage);
    static QString metaFileForTag(int tag, const QString& name);

    // True for a name that can be one path component inside a store folder.
    static bool isSafePathComponent(const QString& name);

private:
    // The text file as an object last read or wrote it, and that text's hash.
    struct DiskState {
        NoteIndexMarker::Identity identity;
        size_t textHash = 0;
    };
    struct Fields {
        QString folder;
        QString key;
        QString text;
        int64_t updatedOn = 0;
        int64_t createdOn = 0;
        int storage = 0;
        int64_t scrollCaret = 0;
        double scrollCaretOffset = 0;
        int64_t selectedCaret = 0;
        QString branchSignature;
        QString title;
        QString summary;
        QString readFailure;
        QString readCaution;
        // Read through a fallback encoding: the file's bytes go to the Trash
        // before the first rewrite.
        bool keepsOriginalBytes = false;
        // The text file as this object last read or wrote it; none when it did
        // neither. A save finding another file there would write over text
        // nobody has seen here.
        std::optional<DiskState> onDisk;
        // The text file as it was when a blank save last copied it into the Trash.
        std::optional<NoteIndexMarker::Identity> backedUp;
    };

    Fields fields() const;
    NotePtr self();
    static NoteStorageListener* relay();
    // writeTag visiting only linkedBefore and the new tags when given.
    bool writeTag(int tag, const QStringList& linkFiles, int storage, bool manifest, const QStringList* linkedBefore,
                  Error* error, KindFolders* open = nullptr);
    bool readText(const QString& path, Error* error, const NoteIndexMarker::Identity* before = nullptr);
    void noteReadFailure(const Error& error);
    // The file's text, in whatever encoding the decoding service finds. With
    // headOnly given, a file too large to read whole gives its head and sets it.
    static bool decodeTextFile(const QString& path, QString* text, Error* error, TextEncoding* used = nullptr,
                               bool* headOnly = nullptr);
    // A copy of the file into the Trash; false when a file was there and no
    // copy of it reached the Trash.
    static bool backUpIntoTrash(const QString& key, const QString& document);
    bool backUpBeforeBlanking(const QString& key, const QString& document);
    QString cleanedTitle();
    // Commit, move and rename helpers.
    void commitLocalFiles(const Completion& completion);
    // The file at the note's key is no longer what this object read or wrote.
    bool changedOnDisk() const;
    // The file at path holds another text than the version did.
    static bool changedSince(const QString& path, const DiskState& version);
    // The changed file keeps its text; this note becomes one of its own.
    void forkFromChangedFile();
    // How a text file's write went: inPlace, the file held the bytes already
    // and only its dates were set; created, no file was there before.
    struct TextWritten {
        bool inPlace = false;
        bool created = false;
        // Not written: another save changed the file since this object read or wrote it.
        bool changedMeanwhile = false;
    };
    // The text file's write; a new file only where no entry is. beforeRewrite
    // runs just before the bytes are written.
    bool writeTextFile(bool createNew, TextWritten* written = nullptr, const std::function<void()>& beforeRewrite = {});
    bool replaceText(const QString& path, const QByteArray& bytes, bool createNew,
                     const std::optional<DiskState>& version, Error* error);
    static bool isChangedMeanwhile(const Error& error);
    // The index marker matches the text file as it is now.
    bool hasCurrentIndexFile() const;
    // Tag links dated anew and the marker written, for a text its row holds already.
    void redateTagLinksAndIndexFile();
    // Names the note and creates its file, trying the next free name when an
    // outside program took the chosen one meanwhile.
    bool writeUnderNewName();
    // The free name the title allows in the note's storage.
    QString newFileName();
    void handToCloud(bool close, bool ok, const Completion& completion, const CloudCompletion& cloudCompletion);
    // Side files, tag links and search row leave the old place; links first
    // for a move, marker and side files first for trash and purge.
    void detach(bool linksFirst);
    void reattach();
    // Trash and purge: detached first, and back in place when the file stays.
    void detachForRemoval();
    void reattachAfterFailedRemoval();
    Error trashLocal();
    Error purgeLocal();
    static bool moveTextFile(const QString& from, const QString& to, Error* error);
    // Old and new place of a move or rename, as the events and the cloud see
    // them; announceMove sends the will-move event with them.
    struct MoveDescriptors {
        NotePtr before;
        NotePtr after;
    };
    MoveDescriptors announceMove(const QString& newKey, int newStorage, int64_t created, int64_t updated);

    struct Parsed;
    // What parseAhead() made, when it was made of this text in this storage.
    std::shared_ptr<const Parsed> parsedAhead(const QString& text, int storage) const;
    static TagLinks tagLinksOf(const QString& text, int storage);

    mutable std::mutex mutex_;
    Fields fields_;
    std::shared_ptr<const Parsed> parsed_;

public:
    // Search (NoteSearch.cpp): no state; each block runs once, on the calling
    // thread, before the call returns. Rows are ListItem (Store/ListItem.h).
    using ListItemList = QList<std::shared_ptr<class ListItem>>;
    using SearchBlock = std::function<void(const ListItemList& notes, const ListItemList& archived)>;
    using TagSearchBlock = std::function<void(const ListItemList& items)>;
    // The full-text search, inside a syncDatabase block. Tag kinds 4 and 5
    // keep notes carrying the whole tag; any other number searches both
    // storages. Archived rows always come in the second list.
    // What a search may skip and what it learnt: a query extending one whose
    // content scan found nothing cannot find anything there either.
    struct SearchPasses {
        bool skipLooseContent = false;
        bool looseContentFoundNothing = false;
        // Checked before each pass: a cancelled search runs no further pass.
        std::function<bool()> cancelled;
    };
    static void searchDatabase(class SLDatabase& database, const QString& query, int storage, const QString& tag,
                               const SearchBlock& block, SearchPasses* passes = nullptr);
    static void searchDatabase(class SLDatabase& database, const QString& query, const SearchBlock& block);
    // Tags of the kind (4 or 5) whose "#" or "@" name matches the query, best first.
    static void searchTagWithQuery(const QString& query, int tag, const TagSearchBlock& block);
    // "All" and "Archive" when they match the query, best first.
    static void searchStorageWithQuery(const QString& query, const TagSearchBlock& block);
};
