#include "AppleDocument.h"

#include "files/AtomicFile.h"
#include "files/TextDecoding.h"

#include "Log.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

namespace {

using TextDecoding::Encoding;

const QByteArray Utf32LittleMark("\xFF\xFE\0\0", 4);
const QByteArray Utf32BigMark("\0\0\xFE\xFF", 4);

// The encodings to try in turn; a wide one honours its byte-order mark and is
// big-endian without one. UTF-32's marks would pass as UTF-16 with a NUL.
QList<Encoding> readingOrder(const QByteArray& data)
{
    const bool littleMark = data.startsWith(QByteArray("\xFF\xFE", 2));
    const Encoding utf32 = data.startsWith(Utf32LittleMark) ? Encoding::UTF32LE : Encoding::UTF32BE;
    if (data.startsWith(Utf32LittleMark) || data.startsWith(Utf32BigMark))
        return {Encoding::UTF8, utf32, Encoding::ASCII};
    return {Encoding::UTF8, littleMark ? Encoding::UTF16LE : Encoding::UTF16BE, utf32, Encoding::ASCII};
}

} // namespace

std::optional<AppleDocument> AppleDocument::open(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    AppleDocument document(path);
    if (!document.readFromData(file.readAll()))
        return std::nullopt;
    return document;
}

bool AppleDocument::readFromData(const QByteArray& data, Error* error)
{
    for (const Encoding encoding : readingOrder(data)) {
        QString text;
        if (TextDecoding::decodeAs(data, encoding, &text)) {
            text_ = text;
            return true;
        }
    }
    if (error)
        *error = Error::make(QStringLiteral("NSOSStatusErrorDomain"), UndecodableCode,
                             QStringLiteral("%1 is in no known text encoding").arg(path_));
    return false;
}

bool AppleDocument::save(Error* error) const
{
    return AtomicFile::write(path_, data(), error);
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
