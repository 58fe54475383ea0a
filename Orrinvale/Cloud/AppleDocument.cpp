#include "AppleDocument.h"

#include "files/AtomicFile.h"
#include "files/TextDecoding.h"

#include <QFile>

namespace {

using TextDecoding::Encoding;

// A wide encoding with its byte-order mark honoured; without one, big-endian.
Encoding wideOrder(const QByteArray& data, const QByteArray& littleMark, Encoding little, Encoding big)
{
    return data.startsWith(littleMark) ? little : big;
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
    // UTF-32's little-endian mark begins like UTF-16's: the longer one is tried after.
    const Encoding order[] = {
        Encoding::UTF8,
        wideOrder(data, QByteArray("\xFF\xFE", 2), Encoding::UTF16LE, Encoding::UTF16BE),
        wideOrder(data, QByteArray("\xFF\xFE\0\0", 4), Encoding::UTF32LE, Encoding::UTF32BE),
        Encoding::ASCII,
    };
    for (const Encoding encoding : order) {
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
