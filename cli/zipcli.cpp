// zipcli list ARCHIVE: one line per entry (mode, size, stored size, method,
// encryption, date, name). zipcli check ARCHIVE: every local header against its
// central record, and every entry's data read through and verified (CRC-32 and
// sizes; an encrypted entry only with its password). zipcli cat ARCHIVE
// NAME: the entry's bytes on standard output. zipcli extract ARCHIVE DIR: every
// entry checked and written under DIR, never outside it, the declared sizes
// together at most BYTES of --limit (by default the free space); each entry
// refused is named with the reason. zipcli add ARCHIVE FILE...
// [--level N]: the files appended as new entries (level 0 stores, -1 to 9
// deflate; the archive is made when missing); each must be a regular file or a
// link to one. zipcli remove ARCHIVE NAME: the entries of that name dropped,
// an error when there is none. Exit status 1 on any failure.
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

const char* const usage = "usage: zipcli list ARCHIVE\n"
                          "       zipcli check ARCHIVE [--password P]\n"
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

// Without the password an encrypted entry's data cannot be read.
bool dataUnverifiable(const ZPOldArchiveEntry& entry, const QString& password)
{
    return entry.encrypted() && password.isEmpty();
}

// What check finds in one entry: its records, then its data read to the end
// and verified; nothing when it is sound.
std::optional<QString> flawOf(const ZPOldArchiveEntry& entry, const QString& password, int devNull)
{
    Error error;
    if (!entry.check(&error) || !entry.checkEncryptionAndCompression(&error) || !entry.fileData(&error))
        return describe(error);
    if (dataUnverifiable(entry, password))
        return std::nullopt;
    if (!ZPExtraction::writeEntryData(entry, password, devNull, &error))
        return describe(error);
    return std::nullopt;
}

int check(const ZPArchive::Entries& entries, const QString& password, QTextStream& out)
{
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    int failures = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const ZPOldArchiveEntry& entry = *entries[i];
        const std::optional<QString> flaw = flawOf(entry, password, devNull);
        out << i << ' ' << nameOf(entry) << ": ";
        if (flaw)
            out << *flaw;
        else if (dataUnverifiable(entry, password))
            out << "ok, data not verified: encrypted and no password given";
        else
            out << "ok";
        out << '\n';
        failures += flaw ? 1 : 0;
    }
    ::close(devNull);
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

// The file's bytes. It is opened without waiting and read only when regular:
// a pipe or a device put in its place could block or never end.
std::optional<QByteArray> readRegularFile(const QString& path, Error* error)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        setError(error, posixError(errno, QStringLiteral("open"), path));
        return std::nullopt;
    }
    QFile file;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)
        || !file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        setError(error, posixError(EINVAL, QStringLiteral("read (not a regular file)"), path));
        return std::nullopt;
    }
    QByteArray data = file.readAll();
    if (file.error() == QFileDevice::NoError)
        return data;
    setError(error, posixError(errno, QStringLiteral("read"), path));
    return std::nullopt;
}

// A new entry for the file (a link is followed), named by the path as given,
// with its mode and modification time; its bytes are read when the archive is
// written. Nothing, with the reason on standard error, when it is not a
// regular file.
std::shared_ptr<ZPArchiveEntry> fileEntry(const QString& path, std::int64_t level)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        QTextStream(stderr) << path << ": " << QString::fromLocal8Bit(std::strerror(errno)) << '\n';
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        QTextStream(stderr) << path << ": not a regular file\n";
        return nullptr;
    }
    return ZPArchiveEntry::archiveEntryWithFileName(
        path, std::uint16_t(info.st_mode), QFileInfo(path).lastModified(), level,
        [path](Error* error) { return readRegularFile(path, error); }, {}, {});
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
    const ZPArchive::Entries old = archive.entries().value_or(ZPArchive::Entries());
    for (const auto& entry : old) {
        if (verb != u"remove" || entry->fileName() != operands.first())
            entries.append(entry);
    }
    if (verb == u"remove" && entries.size() == old.size()) {
        QTextStream(stderr) << operands.first() << ": no such entry\n";
        return 1;
    }
    for (const QString& file : verb == u"add" ? operands : QStringList()) {
        auto entry = fileEntry(file, level);
        if (!entry)
            return 1;
        entries.append(std::move(entry));
    }
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
    if (!known || arguments.size() != (takesOperand ? 4 : 3) || (password && command.verb == u"list")
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
        return check(entries, command->options.password, out);
    }
    if (command->verb == u"cat")
        return cat(entries, command->operand, command->options.password);
    return extractAll(entries, command->operand, command->options);
}
