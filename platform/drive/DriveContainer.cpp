#include "DriveContainer.h"

#include "Dispatch.h"
#include "UserDefaults.h"
#include "files/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString AccountFile = QStringLiteral(".account");

// The UUID in the file, or empty when it cannot be read or is not one.
QString readAccount(const QString& root)
{
    QFile file(QDir(root).filePath(AccountFile));
    if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly))
        return QString();
    const QUuid uuid = QUuid::fromString(QString::fromUtf8(file.read(64)).trimmed());
    return uuid.isNull() ? QString() : uuid.toString(QUuid::WithoutBraces);
}

} // namespace

DriveContainer::DriveContainer(UserDefaults& defaults) : defaults_(defaults) {}

bool DriveContainer::chooseFolder(const QString& root, Error* error)
{
    const QString absolute = QFileInfo(root).absoluteFilePath();
    if (!QFileInfo(absolute).isDir()) {
        setError(error, Error::make(QStringLiteral("NSCocoaErrorDomain"), 4, QStringLiteral("No folder at %1").arg(absolute)));
        return false;
    }
    QString account = readAccount(absolute);
    if (account.isEmpty()) {
        account = QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (!AtomicFile::write(QDir(absolute).filePath(AccountFile), account.toUtf8() + '\n', error, true))
            return false;
    }
    const QDir documents(QDir(absolute).filePath(QStringLiteral("Documents")));
    for (const QString& storage : {QStringLiteral("Inbox"), QStringLiteral("Archive")}) {
        if (!documents.mkpath(storage)) {
            setError(error, Error::make(QStringLiteral("NSCocoaErrorDomain"), 513,
                                        QStringLiteral("Cannot create %1").arg(documents.filePath(storage))));
            return false;
        }
    }
    defaults_.setString(absolute, QString::fromLatin1(FolderKey));
    defaults_.setString(account, QString::fromLatin1(AccountKey));
    defaults_.synchronize();
    check();
    return true;
}

QString DriveContainer::root() const
{
    return defaults_.stringForKey(QString::fromLatin1(FolderKey));
}

QString DriveContainer::documentsPath() const
{
    const QString folder = root();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QStringLiteral("Documents"));
}

QString DriveContainer::identityToken() const
{
    const QString folder = root();
    const QString name = folder.isEmpty() ? QString() : account(folder);
    return !name.isEmpty() && name == defaults_.stringForKey(QString::fromLatin1(AccountKey)) ? name : QString();
}

QString DriveContainer::account(const QString& root) const
{
    std::lock_guard lock(accountMutex_);
    AccountCache& file = accountCache_;
    if (file.root != root) {
        const QString documents = QDir(root).filePath(QStringLiteral("Documents"));
        file = {root, QFile::encodeName(documents), QFile::encodeName(QDir(root).filePath(AccountFile)),
                QFile::encodeName(documents + QStringLiteral("/../") + AccountFile), {}, {}};
    }
    int64_t modified = 0;
    FileDates::Version version;
    // ".." leads out of "Documents" only when it is a folder: while that path
    // reaches the very file read last, unchanged, one look has checked both.
    if (FileDates::regularFileModifiedAt(AT_FDCWD, file.throughDocuments.constData(), &modified, &version)
        && version == file.version && FileDates::isSettled(version))
        return file.account;
    struct statx documents {};
    if (statx(AT_FDCWD, file.documents.constData(), 0, STATX_TYPE, &documents) != 0 || !S_ISDIR(documents.stx_mode)
        || !FileDates::regularFileModifiedAt(AT_FDCWD, file.path.constData(), &modified, &version))
        return QString();
    if (version != file.version || !FileDates::isSettled(version)) {
        file.account = readAccount(root);
        file.version = version;
    }
    return file.account;
}

void DriveContainer::check()
{
    const QString token = identityToken();
    std::function<void()> callback;
    {
        std::lock_guard lock(mutex_);
        if (token == lastToken_)
            return;
        lastToken_ = token;
        callback = callback_;
    }
    if (callback)
        DispatchQueue::main()->async(callback);
}

void DriveContainer::setIdentityCallback(std::function<void()> callback)
{
    std::lock_guard lock(mutex_);
    lastToken_ = identityToken();
    callback_ = std::move(callback);
}
