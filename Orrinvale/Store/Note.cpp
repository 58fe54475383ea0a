#include "Note.h"

#include "FolderListing.h"
#include "NoteStorageListener.h"

#include "Clock.h"
#include "Folders.h"
#include "Log.h"
#include "files/AtomicFile.h"
#include "files/FileCoordinator.h"
#include "files/FileDates.h"
#include "files/Posix.h"
#include "files/TextDecoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <type_traits>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<NoteStorageListener*> eventRelay{nullptr};

const QString ErrorDomain = QStringLiteral("NSCocoaErrorDomain");
constexpr int ReadNoSuchFileError = 260;
constexpr int ReadUnknownError = 256;
constexpr int ReadUnknownStringEncodingError = 264;
constexpr int ReadTooLargeError = 263;
constexpr int WriteUnknownError = 512;

Error openError(const QString& path, int code, const QString& why)
{
    return Error::make(ErrorDomain, code,
                       QStringLiteral("The file \u201C%1\u201D couldn\u2019t be opened%2.").arg(QFileInfo(path).fileName(), why));
}

// The length of the bytes without the UTF-8 character a cut left incomplete.
qsizetype withoutCutCharacter(const QByteArray& bytes)
{
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= std::min<qsizetype>(4, size); ++back) {
        const auto c = uchar(bytes[size - back]);
        if ((c & 0xC0) == 0x80)
            continue;
        const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? size - back : size;
    }
    return size;
}

QString megabytes(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
}

Error tooLargeError(const QString& path)
{
    return openError(path, ReadTooLargeError,
                     QStringLiteral(" because it is larger than %1").arg(megabytes(Note::MaximumTextFileSize)));
}

// Why a note read by its head alone is read-only.
QString headOnlyReason(const QString& path)
{
    return QStringLiteral("The file \u201C%1\u201D is larger than %2, too large to edit here: only its first %3 is shown.")
        .arg(QFileInfo(path).fileName(), megabytes(Note::MaximumTextFileSize), megabytes(Note::HeadOfLargeFile));
}

// The whole file, or false with an error naming why it cannot be read. Only
// a regular file is read: opening a FIFO or a device named like a note would
// block the file queue for ever. A file larger than the limit is never read
// whole: with headOnly given, its head is read and headOnly set; without,
// it is an error.
bool readBytes(const QString& path, QByteArray* bytes, Error* error, bool* headOnly)
{
    const int fd = path.isEmpty() ? -1 : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const bool missing = path.isEmpty() || errno == ENOENT;
        // Listed under a name its bytes do not spell: the file is there, and writing under the name
        // would make another one beside it.
        if (missing && !path.isEmpty() && holdsUndecodableName(QFileInfo(path).path(), QFileInfo(path).fileName()))
            setError(error, openError(path, ReadUnknownError,
                                      QStringLiteral(" because its name is not valid UTF-8; rename the file to open it")));
        else
            setError(error, openError(path, missing ? ReadNoSuchFileError : ReadUnknownError, QString()));
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        setError(error, openError(path, ReadUnknownError, QStringLiteral(" because it is not a regular file")));
        return false;
    }
    bool large = info.st_size > Note::MaximumTextFileSize;
    if (large && !headOnly) {
        ::close(fd);
        setError(error, tooLargeError(path));
        return false;
    }
    // Sized by the file with a byte to spare, so a file read whole ends at
    // the next read; one that grew meanwhile is read on, up to the limit.
    const qsizetype most = large ? Note::HeadOfLargeFile : qsizetype(Note::MaximumTextFileSize) + 1;
    QByteArray data(std::min(qsizetype(info.st_size) + 1, most), Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (filled == most)
                break;
            data.resize(std::min(data.size() * 2, most));
        }
        const ssize_t n = ::read(fd, data.data() + filled, size_t(data.size() - filled));
        if (n > 0) {
            filled += n;
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ::close(fd);
            setError(error, openError(path, ReadUnknownError, QString()));
            return false;
        }
    }
    ::close(fd);
    large = large || filled > Note::MaximumTextFileSize;
    if (large && !headOnly) {
        setError(error, tooLargeError(path));
        return false;
    }
    data.truncate(large ? std::min(filled, Note::HeadOfLargeFile) : filled);
    if (large) {
        data.truncate(withoutCutCharacter(data));
        *headOnly = true;
    }
    *bytes = std::move(data);
    return true;
}

} // namespace

// Detection through the decoding service only: a fallback to UTF-16 for any
// even-length bytes would turn a Latin-1 note into garbage.
bool Note::decodeTextFile(const QString& path, QString* text, Error* error, TextEncoding* used, bool* headOnly)
{
    QByteArray bytes;
    if (!readBytes(path, &bytes, error, headOnly))
        return false;
    if (TextDecoding::decode(bytes, text, used))
        return true;
    setError(error, Error::make(ErrorDomain, ReadUnknownStringEncodingError,
                                QStringLiteral("The file \u201C%1\u201D couldn\u2019t be opened because the text "
                                               "encoding of its contents can\u2019t be determined.")
                                    .arg(QFileInfo(path).fileName())));
    return false;
}

Note::Note()
{
    fields_.storage = NoteStorageInbox;
    fields_.createdOn = fields_.updatedOn = Clock::now();
}

Note::Note(const QString& key, int storage)
{
    fields_.key = key;
    fields_.storage = storage;
}

Note::Note(const QUrl& fileURL)
{
    const QFileInfo info(fileURL.toLocalFile());
    fields_.key = info.fileName();
    fields_.storage = storageKeyForResourceName(info.dir().dirName());
}

// --- Fields

#define NOTE_FIELD(Type, getter, setter, member)                                                                  \
    Type Note::getter() const                                                                                     \
    {                                                                                                             \
        std::lock_guard lock(mutex_);                                                                             \
        return fields_.member;                                                                                    \
    }                                                                                                             \
    void Note::setter(std::conditional_t<std::is_same_v<Type, QString>, const QString&, Type> value)              \
    {                                                                                                             \
        std::lock_guard lock(mutex_);                                                                             \
        fields_.member = value;                                                                                   \
    }

NOTE_FIELD(QString, folder, setFolder, folder)
NOTE_FIELD(QString, key, setKey, key)
NOTE_FIELD(QString, text, setText, text)
NOTE_FIELD(int64_t, updatedOn, setUpdatedOn, updatedOn)
NOTE_FIELD(int64_t, createdOn, setCreatedOn, createdOn)
NOTE_FIELD(int, storage, setStorage, storage)
NOTE_FIELD(int64_t, scrollCaret, setScrollCaret, scrollCaret)
NOTE_FIELD(double, scrollCaretOffset, setScrollCaretOffset, scrollCaretOffset)
NOTE_FIELD(int64_t, selectedCaret, setSelectedCaret, selectedCaret)
NOTE_FIELD(QString, branchSignature, setBranchSignature, branchSignature)
NOTE_FIELD(QString, title, setTitle, title)
NOTE_FIELD(QString, summary, setSummary, summary)

#undef NOTE_FIELD

QString Note::readFailure() const
{
    std::lock_guard lock(mutex_);
    return fields_.readFailure;
}

QString Note::readCaution() const
{
    std::lock_guard lock(mutex_);
    return fields_.readCaution;
}

void Note::acceptReadText()
{
    std::lock_guard lock(mutex_);
    fields_.readCaution.clear();
}

void Note::takeUnsavedTextOf(const Note& other)
{
    const Fields theirs = other.fields();
    std::lock_guard lock(mutex_);
    fields_.text = theirs.text;
    fields_.keepsOriginalBytes = theirs.keepsOriginalBytes;
    fields_.onDisk = theirs.onDisk;
    fields_.readFailure.clear();
    fields_.readCaution.clear();
}

void Note::takeDiskIdentityOf(const Note& other)
{
    const Fields theirs = other.fields();
    std::lock_guard lock(mutex_);
    fields_.onDisk = theirs.onDisk;
}

Note::Fields Note::fields() const
{
    std::lock_guard lock(mutex_);
    return fields_;
}

NotePtr Note::self()
{
    return weak_from_this().lock();
}

void Note::setEventRelay(NoteStorageListener* relay)
{
    eventRelay = relay;
}

NoteStorageListener* Note::relay()
{
    return eventRelay;
}

// --- Reading the text

bool Note::restoreTextFromURL(const QUrl& url, Error* error)
{
    const QString path = url.toLocalFile();
    LogInfo("note:open %1 try open..", path);
    QString text;
    TextEncoding used = TextEncoding::UTF8;
    bool headOnly = false;
    if (!decodeTextFile(path, &text, error, &used, &headOnly)) {
        LogError("note:open %1 failed.", path);
        return false;
    }
    const QString tooLarge = headOnly ? headOnlyReason(path) : QString();
    if (headOnly) {
        LogError("note:open %1 too large, its head only.", path);
        setError(error, Error::make(ErrorDomain, ReadTooLargeError, tooLarge));
    }
    std::lock_guard lock(mutex_);
    fields_.text = text;
    fields_.readFailure = tooLarge;
    fields_.keepsOriginalBytes = used != TextEncoding::UTF8;
    fields_.readCaution = used == TextEncoding::UTF8WithReplacements
                              ? QStringLiteral("Some bytes of the file are not valid UTF-8 and are shown as �.")
                              : QString();
    return !headOnly;
}

bool Note::readText(const QString& path, Error* error, const NoteIndexMarker::Identity* seen)
{
    FileCoordinator::Access access = FileCoordinator::coordinate(path);
    // Taken before the read: a write meanwhile then shows as a change, never hides one.
    const NoteIndexMarker::Identity before = seen ? *seen : NoteIndexMarker::identityOf(path);
    Error failure;
    const bool ok = restoreTextFromURL(QUrl::fromLocalFile(path), &failure);
    {
        std::lock_guard lock(mutex_);
        fields_.onDisk = ok ? std::optional(DiskState{before, qHash(fields_.text)}) : std::nullopt;
    }
    if (ok)
        return true;
    noteReadFailure(failure);
    setError(error, failure);
    return false;
}

void Note::noteReadFailure(const Error& error)
{
    // A missing file hides nothing from the user: writing it anew is safe.
    if (error.code == ReadNoSuchFileError)
        return;
    std::lock_guard lock(mutex_);
    fields_.readFailure = error.localizedDescription();
}

bool Note::restoreText(Error* error, const NoteIndexMarker::Identity* before)
{
    const Fields f = fields();
    if (f.key.isNull())
        return false;
    Error failure;
    if (readText(documentFileForKey(f.key, f.storage), &failure, before))
        return true;
    if (failure.code != ReadTooLargeError)
        setText(QStringLiteral(""));
    LogError("note:read error");
    setError(error, failure);
    return false;
}

bool Note::restoreTextOrHead(const NoteIndexMarker::Identity* before)
{
    Error error;
    return restoreText(&error, before) || error.code == ReadTooLargeError;
}

void Note::_openLocalNote(const Completion& completion)
{
    const Fields f = fields();
    Error error;
    const bool ok = !f.key.isNull() && readText(documentFileForKey(f.key, f.storage), &error);
    if (!ok)
        LogError("note:read error %1", error.localizedDescription());
    if (completion)
        completion(ok);
}

void Note::_closeLocalNote(const Completion& completion)
{
    if (completion)
        completion(true);
}

bool Note::removeItemIfExistsAtPath(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

// --- Writing the text

void Note::writeText(const Completion& completion)
{
    const bool ok = writeTextFile(false);
    if (completion)
        completion(ok);
}

bool Note::writeTextFile(bool createNew, TextWritten* written, const std::function<void()>& beforeRewrite)
{
    const Fields f = fields();
    const QString path = f.key.isNull() ? QString() : documentFileForKey(f.key, f.storage);
    const bool existed = QFileInfo::exists(path);

    Error error;
    bool ok = false;
    bool datedOnly = false;
    if (!f.readFailure.isEmpty() || !f.readCaution.isEmpty()) {
        error = Error::make(ErrorDomain, WriteUnknownError,
                            QStringLiteral("The note was not read as it is on disk, so it is not written over: %1")
                                .arg(f.readFailure.isEmpty() ? f.readCaution : f.readFailure));
    } else if (!path.isEmpty() && !f.text.isNull()) {
        FileCoordinator::Access access = FileCoordinator::coordinate(path);
        createImmediateDirectoryForFilePath(path);
        // The bytes of a file read through a fallback are kept before UTF-8 replaces them.
        if (f.keepsOriginalBytes && existed && !backUpIntoTrash(f.key, path)) {
            error = Error::make(ErrorDomain, WriteUnknownError,
                                QStringLiteral("The file's original bytes could not be kept in the Trash."));
        } else {
            // The same bytes already there (a commit cut short before its date, a file another
            // program wrote): only the dates change, and nothing waits for the disk.
            const QByteArray bytes = f.text.toUtf8();
            datedOnly = !createNew && AtomicFile::holds(path, bytes) && FileDates::setModificationDate(path, f.updatedOn);
            if (!datedOnly && beforeRewrite)
                beforeRewrite();
            ok = datedOnly || replaceText(path, bytes, createNew, f.onDisk, &error);
        }
        if (ok) {
            if (!datedOnly)
                FileDates::setModificationDate(path, f.updatedOn);
            FileDates::setCreationDate(path, f.createdOn);
            const NoteIndexMarker::Identity identity = NoteIndexMarker::identityOf(path);
            std::lock_guard lock(mutex_);
            fields_.keepsOriginalBytes = false;
            fields_.onDisk = DiskState{identity, qHash(f.text)};
        } else {
            LogError("note:write error: %1", error.localizedDescription());
        }
    } else if (f.text.isNull()) {
        // Nothing was ever read: writing would empty the file.
    } else {
        error = Error::make(ErrorDomain, WriteUnknownError, QStringLiteral("The note has no file name."));
    }

    if (ok) {
        if (!existed) {
            if (NoteStorageListener* r = relay())
                r->noteDidAddToStorage(self(), f.storage, QString());
        }
    } else if (!error.isNull()) {
        LogError("note:write local error %1 - %2", path, error.localizedDescription());
    }
    if (written)
        *written = {datedOnly, ok && !existed, isChangedMeanwhile(error)};
    return ok;
}

// A file this object read or wrote is replaced only while it is still that
// version, checked at the rename: the watch may not have told of a change yet.
// The version is the one this write started from: a fork meanwhile leaves it
// to be kept all the same.
bool Note::replaceText(const QString& path, const QByteArray& bytes, bool createNew,
                       const std::optional<DiskState>& version, Error* error)
{
    if (createNew)
        return AtomicFile::create(path, bytes, error, true);
    if (!version)
        return AtomicFile::write(path, bytes, error, true);
    return AtomicFile::writeIfUnchanged(path, bytes, [&] { return !changedSince(path, *version); }, error);
}

bool Note::isChangedMeanwhile(const Error& error)
{
    return error.code == ESTALE && error.domain == QLatin1String(PosixErrorDomain);
}

// --- Fork and file utilities

void Note::forkNote()
{
    std::lock_guard lock(mutex_);
    fields_.key = QString();
    fields_.onDisk.reset();
    // The new file replaces nothing.
    fields_.readFailure.clear();
    fields_.readCaution.clear();
    fields_.keepsOriginalBytes = false;
}

QString Note::newTextFromURL(const QUrl& url, Error* error)
{
    const QString path = url.toLocalFile();
    LogInfo("note:open guess %1..", path);
    QString text;
    if (decodeTextFile(path, &text, error))
        return text;
    LogError("note:open error %1", path);
    return QString();
}

bool Note::writeText(const QString& text, const QUrl& url, Error* error)
{
    return AtomicFile::write(url.toLocalFile(), text.toUtf8(), error, true);
}

void Note::createImmediateDirectoryForFilePath(const QString& path)
{
    const QString folder = QFileInfo(path).path();
    if (QFileInfo::exists(folder))
        return;
    // The caches hold the notes' text and tags: their folders are the user's
    // alone. Notes' own folders keep the user's umask.
    const auto under = [&](const QString& root) {
        return !root.isEmpty() && (folder + QLatin1Char('/')).startsWith(QDir::cleanPath(root) + QLatin1Char('/'));
    };
    if (under(cachesRoot()) || under(Folders::caches()))
        Folders::ensure(folder);
    else
        QDir().mkpath(folder);
}
