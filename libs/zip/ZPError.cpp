#include "ZPError.h"

#include <QVariant>

namespace ZPError {

namespace {

QString description(Code code)
{
    switch (code) {
    case ReadFailed:
        return QStringLiteral("archive could not be read");
    case EndOfCentralDirectoryInvalid:
        return QStringLiteral("end of central directory record missing or invalid");
    case CentralFileHeaderInvalid:
        return QStringLiteral("central file header invalid");
    case LocalFileHeaderInvalid:
        return QStringLiteral("local file header invalid or not matching the central file header");
    case TemporaryChannelFailed:
        return QStringLiteral("temporary archive could not be made");
    case LocalFileWriteFailed:
        return QStringLiteral("entry could not be written");
    case CentralFileHeaderWriteFailed:
        return QStringLiteral("central file header could not be written");
    case EndOfCentralDirectoryWriteFailed:
        return QStringLiteral("end of central directory record could not be written");
    case ReplaceFailed:
        return QStringLiteral("archive could not be replaced");
    case UnsupportedCompression:
        return QStringLiteral("compression method not supported");
    case UnsupportedEncryption:
        return QStringLiteral("encryption method not supported");
    case EntryDataCorrupt:
        return QStringLiteral("entry data corrupt or not matching its CRC or authentication code");
    case WrongPassword:
        return QStringLiteral("wrong password");
    }
    return {};
}

} // namespace

Error make(Code code, const std::optional<Error>& underlying, std::optional<std::uint32_t> entryIndex)
{
    Error error = Error::make(QString::fromLatin1(domain), code, description(code));
    if (underlying)
        error.userInfo.insert(UnderlyingErrorKey, QVariant::fromValue(*underlying));
    if (entryIndex)
        error.userInfo.insert(entryIndexKey, QVariant::fromValue(*entryIndex));
    return error;
}

} // namespace ZPError
