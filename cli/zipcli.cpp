// zipcli list ARCHIVE: one line per entry (mode, size, stored size, method,
// encryption, date, name). zipcli check ARCHIVE: every local header against its
// central record, and whether the entry's data can be read; exit status 1 on
// any failure.
#include "ZPArchive.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

const char* const usage = "usage: zipcli list|check ARCHIVE\n";

QString describe(const Error& error)
{
    QString text = QStringLiteral("%1 (code %2)").arg(error.localizedDescription()).arg(error.code);
    const QVariant underlying = error.userInfo.value(UnderlyingErrorKey);
    if (underlying.isValid())
        text += QStringLiteral(": ") + underlying.value<Error>().localizedDescription();
    return text;
}

QString encryptionName(ZPOldArchiveEntry::EncryptionMode mode)
{
    switch (mode) {
    case ZPOldArchiveEntry::None:
        return QStringLiteral("-");
    case ZPOldArchiveEntry::Traditional:
        return QStringLiteral("zipcrypto");
    case ZPOldArchiveEntry::Strong:
        return QStringLiteral("strong");
    case ZPOldArchiveEntry::WinZipAES:
        return QStringLiteral("aes");
    }
    return {};
}

QString nameOf(const ZPOldArchiveEntry& entry)
{
    return entry.fileName().value_or(QStringLiteral("<name not valid in its encoding>"));
}

void list(const ZPArchive::Entries& entries, QTextStream& out)
{
    for (const auto& entry : entries) {
        out << QString::number(entry->fileMode(), 8).rightJustified(6, u'0') << ' '
            << QString::number(entry->uncompressedSize()).rightJustified(10) << ' '
            << QString::number(entry->compressedSize()).rightJustified(10) << ' '
            << QString::number(entry->compressionMethod()).rightJustified(3) << ' '
            << encryptionName(entry->encryptionMode()).leftJustified(9) << ' '
            << entry->lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << ' ' << nameOf(*entry)
            << '\n';
    }
}

int check(const ZPArchive::Entries& entries, QTextStream& out)
{
    int failures = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        Error error;
        const bool sound = entries[i]->check(&error) && entries[i]->checkEncryptionAndCompression(&error)
            && entries[i]->fileData(&error);
        out << i << ' ' << nameOf(*entries[i]) << ": " << (sound ? QStringLiteral("ok") : describe(error)) << '\n';
        failures += sound ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3 || (arguments[1] != u"list" && arguments[1] != u"check")) {
        std::fputs(usage, stderr);
        return 2;
    }
    ZPArchive archive(arguments[2]);
    Error error;
    if (!archive.load(&error)) {
        QTextStream(stderr) << arguments[2] << ": " << describe(error) << '\n';
        return 1;
    }
    QTextStream out(stdout);
    if (arguments[1] == u"list") {
        list(*archive.entries(), out);
        return 0;
    }
    return check(*archive.entries(), out);
}
