// zipcli list ARCHIVE: one line per entry (mode, size, stored size, method,
// encryption, date, name). zipcli check ARCHIVE: every local header against its
// central record, and whether the entry's data can be read. zipcli cat ARCHIVE
// NAME: the entry's bytes on standard output. zipcli extract ARCHIVE DIR: every
// entry checked and written under DIR, never outside it, the declared sizes
// together at most BYTES of --limit (by default the free space); each entry
// refused is named with the reason. zipcli add ARCHIVE FILE...
// [--level N]: the files appended as new entries (level 0 stores, -1 to 9
// deflate; the archive is made when missing). zipcli remove ARCHIVE NAME: the
// entries of that name dropped. Exit status 1 on any failure.
#include "ZPExtraction.h"
#include "ZPMutableArchive.h"
#include "ZPNewArchiveEntry.h"
#include "files/Posix.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const usage = "usage: zipcli list|check ARCHIVE\n"
                          "       zipcli add ARCHIVE FILE... [--level N]\n"
                          "       zipcli remove ARCHIVE NAME\n"
                          "       zipcli cat ARCHIVE NAME [--password P]\n"
                          "       zipcli extract ARCHIVE DIR [--password P] [--limit BYTES]\n";

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

int cat(const ZPArchive::Entries& entries, const QString& name, const QString& password)
{
    for (const auto& entry : entries) {
        if (entry->fileName() != name)
            continue;
        Error error;
        if (ZPExtraction::writeEntryData(*entry, password, STDOUT_FILENO, &error))
            return 0;
        QTextStream(stderr) << name << ": " << describe(error) << '\n';
        return 1;
    }
    QTextStream(stderr) << name << ": no such entry\n";
    return 1;
}

int extractAll(const ZPArchive::Entries& entries, const QString& target, const ZPExtraction::Options& options)
{
    Error error;
    const auto result = ZPExtraction::extract(entries, target, options, &error);
    if (!result) {
        QTextStream(stderr) << describe(error) << '\n';
        return 1;
    }
    QTextStream report(stderr);
    for (const auto& refusal : result->refusals)
        report << refusal.name << ": refused, " << describe(refusal.error) << '\n';
    return result->refusals.isEmpty() ? 0 : 1;
}

// A new entry for the file, named by the path as given, with its mode and
// modification time; its bytes are read when the archive is written.
std::shared_ptr<ZPArchiveEntry> fileEntry(const QString& path, std::int64_t level)
{
    struct stat info {};
    const bool found = ::stat(QFile::encodeName(path).constData(), &info) == 0;
    return ZPArchiveEntry::archiveEntryWithFileName(
        path, found ? std::uint16_t(info.st_mode) : std::uint16_t(0100644), QFileInfo(path).lastModified(), level,
        [path](Error* error) -> std::optional<QByteArray> {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly)) {
                QByteArray data = file.readAll();
                if (file.error() == QFileDevice::NoError)
                    return data;
            }
            setError(error, posixError(errno, QStringLiteral("read"), path));
            return std::nullopt;
        },
        {}, {});
}

// Adds or removes entries; the archive is loaded only when it exists, so add
// can start a new one.
int update(const QString& path, const QString& verb, QStringList operands, std::int64_t level)
{
    ZPMutableArchive archive(path);
    Error error;
    if (QFileInfo::exists(path) && !archive.load(&error)) {
        QTextStream(stderr) << path << ": " << describe(error) << '\n';
        return 1;
    }
    ZPMutableArchive::NewEntries entries;
    for (const auto& entry : archive.entries().value_or(ZPArchive::Entries())) {
        if (verb != u"remove" || entry->fileName() != operands.first())
            entries.append(entry);
    }
    for (const QString& file : verb == u"add" ? operands : QStringList())
        entries.append(fileEntry(file, level));
    if (archive.updateEntries(entries, &error))
        return 0;
    QTextStream(stderr) << path << ": " << describe(error) << '\n';
    return 1;
}

// add and remove, or nothing when the arguments are not theirs.
std::optional<int> runUpdate(QStringList arguments)
{
    if (arguments.size() < 4 || (arguments[1] != u"add" && arguments[1] != u"remove"))
        return std::nullopt;
    std::int64_t level = -1;
    const qsizetype option = arguments.indexOf(QStringLiteral("--level"));
    if (option >= 0) {
        bool valid = false;
        level = option + 1 < arguments.size() ? arguments[option + 1].toLongLong(&valid) : 0;
        if (!valid || level < -1 || level > 9 || arguments[1] != u"add")
            return std::nullopt;
        arguments.remove(option, 2);
    }
    if (arguments.size() < 4 || (arguments[1] == u"remove" && arguments.size() != 4))
        return std::nullopt;
    return update(arguments[2], arguments[1], arguments.mid(3), level);
}

struct Command {
    QString verb, archive, operand;
    ZPExtraction::Options options;
};

// Takes "NAME VALUE" out of the arguments: false when the value is missing.
bool takeOption(QStringList& arguments, const QString& name, std::optional<QString>& value)
{
    const qsizetype option = arguments.indexOf(name);
    if (option < 0)
        return true;
    if (option + 1 >= arguments.size())
        return false;
    value = arguments[option + 1];
    arguments.remove(option, 2);
    return true;
}

// The command line, or nothing when it is not one of the usages.
std::optional<Command> parse(QStringList arguments)
{
    Command command;
    std::optional<QString> password, limit;
    if (!takeOption(arguments, QStringLiteral("--password"), password)
        || !takeOption(arguments, QStringLiteral("--limit"), limit) || arguments.size() < 3)
        return std::nullopt;
    command.verb = arguments[1];
    command.archive = arguments[2];
    const bool takesOperand = command.verb == u"cat" || command.verb == u"extract";
    const bool known = takesOperand || command.verb == u"list" || command.verb == u"check";
    if (!known || arguments.size() != (takesOperand ? 4 : 3) || (password && !takesOperand)
        || (limit && command.verb != u"extract"))
        return std::nullopt;
    if (takesOperand)
        command.operand = arguments[3];
    command.options.password = password.value_or(QString());
    if (limit) {
        bool valid = false;
        command.options.limit = limit->toULongLong(&valid);
        if (!valid)
            return std::nullopt;
    }
    return command;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (application.arguments().size() > 1
        && (application.arguments()[1] == u"add" || application.arguments()[1] == u"remove")) {
        const auto status = runUpdate(application.arguments());
        if (!status)
            std::fputs(usage, stderr);
        return status.value_or(2);
    }
    const auto command = parse(application.arguments());
    if (!command) {
        std::fputs(usage, stderr);
        return 2;
    }
    ZPArchive archive(command->archive);
    Error error;
    if (!archive.load(&error)) {
        QTextStream(stderr) << command->archive << ": " << describe(error) << '\n';
        return 1;
    }
    const ZPArchive::Entries entries = *archive.entries();
    if (command->verb == u"list") {
        QTextStream out(stdout);
        list(entries, out);
        return 0;
    }
    if (command->verb == u"check") {
        QTextStream out(stdout);
        return check(entries, out);
    }
    if (command->verb == u"cat")
        return cat(entries, command->operand, command->options.password);
    return extractAll(entries, command->operand, command->options);
}
