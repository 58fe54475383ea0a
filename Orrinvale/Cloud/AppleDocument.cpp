#include "AppleDocument.h"

#include "Store/Note.h"
#include "files/AtomicFile.h"
#include "files/FileName.h"
#include "files/TextDecoding.h"

#include "Log.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

using TextDecoding::Encoding;

constexpr int SaveAttempts = 5;

// The encodings to try in turn. A wide one only with its byte-order mark:
// without one, nearly any bytes pass as UTF-16, and a cut or garbled file would
// be taken for a text.
QList<Encoding> readingOrder(const QByteArray& data)
{
    const std::optional<Encoding> marked = TextDecoding::markedEncoding(data);
    if (marked && *marked != Encoding::UTF8)
        return {Encoding::UTF8, *marked};
    return {Encoding::UTF8, Encoding::ASCII};
}

} // namespace

std::optional<AppleDocument> AppleDocument::open(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Never more than a note's text file is read: a larger file is no note to take in.
    const QByteArray data = file.read(std::min<qint64>(file.size(), Note::MaximumTextFileSize) + 1);
    if (data.size() > Note::MaximumTextFileSize) {
        LogError("apdoc:open %1 too large", path);
        return std::nullopt;
    }
    AppleDocument document(path);
    if (!document.readFromData(data))
        return std::nullopt;
    return document;
}

bool AppleDocument::readFromData(const QByteArray& data, Error* error)
{
    for (const Encoding encoding : readingOrder(data)) {
        QString text;
        // No note holds a NUL: such bytes are no text.
        if (TextDecoding::decodeAs(data, encoding, &text) && !text.contains(QChar(0))) {
            text_ = text;
            return true;
        }
    }
    if (error)
        *error = Error::make(QStringLiteral("NSOSStatusErrorDomain"), UndecodableCode,
                             QStringLiteral("%1 is in no known text encoding").arg(path_));
    return false;
}

bool AppleDocument::save(Error* error, const std::optional<FileTime>& date) const
{
    if (!date)
        return AtomicFile::write(path_, data(), error);
    const QFileInfo target(path_);
    // The dot and ".saving" must leave a name within the file system's limit.
    const QString hidden = target.path() + QStringLiteral("/.") + FileName::fitted(target.fileName(), 8)
                           + QStringLiteral(".saving");
    // Another computer saving the document uses the same hidden name and may
    // take the file away before this rename: the save is made again.
    for (int attempt = 0; attempt < SaveAttempts; ++attempt) {
        if (!AtomicFile::write(hidden, data(), error))
            return false;
        if (FileTimes::setModificationTime(hidden, *date)
            && ::rename(QFile::encodeName(hidden).constData(), QFile::encodeName(path_).constData()) == 0)
            return true;
        if (errno != ENOENT)
            break;
    }
    QFile::remove(hidden);
    setError(error, Error::make(QStringLiteral("NSCocoaErrorDomain"), 512, QStringLiteral("Cannot save %1").arg(path_)));
    return false;
}

std::optional<FileTime> AppleDocument::fileModificationDate() const
{
    return FileTimes::modificationTime(path_);
}

QString AppleDocument::localizedName() const
{
    const QString name = QFileInfo(path_).fileName();
    LogInfo("apdoc:localizedName %1", name);
    return name;
}

void AppleDocument::accommodatePresentedItemDeletion(const std::function<void(const Error& error)>& completion) const
{
    LogInfo("apdoc:delete me!?");
    if (completion)
        completion(Error());
}
