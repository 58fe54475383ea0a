#include "Migrator.h"

#include "NoteIndexRebuild.h"
#include "NoteStoreTidy.h"

#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QString MigrateKey = QStringLiteral("migrate");
}

void Migrator::migrateInMainThread()
{
    UserDefaults& defaults = UserDefaults::standard();
    if (defaults.integerForKey(MigrateKey) >= CurrentLevel)
        return;
    defaults.setInteger(CurrentLevel, MigrateKey);
    defaults.synchronize();
}

void Migrator::build()
{
    NoteIndexRebuild run;
    while (run.step()) {
    }
    NoteStoreTidy::atStart();
}

void Migrator::forceMakeDirectory(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return;
    if (info.exists() || info.isSymLink())
        QFile::rename(path, QStringLiteral("%1.backup").arg(path));
    QDir().mkpath(path);
}

void Migrator::copyFile(const QString& name, const QString& fromDirectory, const QString& toDirectory)
{
    const QString source = QDir(fromDirectory).filePath(name);
    if (!QFileInfo::exists(source))
        return;
    QDir().mkpath(toDirectory);
    QFile::copy(source, QDir(toDirectory).filePath(name));
}
