#include "CommitTestSupport.h"

#include "UserDefaults.h"
#include "VGLogFileManagerDefault.h"

#include <sys/stat.h>

using TestSupport::modeOf;

// The search cache, settings, logs and databases with their journals are the
// user's alone, in folders of the user's alone; a folder that was there keeps
// its mode, and a note keeps the user's umask.
TEST_F(CommitTest, ApplicationFilesAreTheUsersAloneAndNotesKeepTheUmask)
{
    const NotePtr note = committed(QStringLiteral("Private\nwords"));
    const QString base = TestSupport::home() + QStringLiteral("/modes");
    QDir(base).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(base));
    ASSERT_EQ(::chmod(QFile::encodeName(base).constData(), 0755), 0);

    UserDefaults defaults(base + QStringLiteral("/config/brindlewick/defaults.ini"));
    defaults.setBool(true, QStringLiteral("calculator"));
    ASSERT_TRUE(defaults.synchronize());
    VGLogFileManagerDefault logs(base + QStringLiteral("/state/Logs/app"));
    const QString log = logs.createNewLogFile();
    ASSERT_FALSE(log.isEmpty());
    const QString records = base + QStringLiteral("/data/brindlewick/records.sqlite");
    ASSERT_TRUE(Folders::ensure(QFileInfo(records).absolutePath()));
    const auto db = SLDatabase::databaseWithPath(records);
    ASSERT_TRUE(db->open());
    ASSERT_TRUE(db->beginTransaction());
    ASSERT_TRUE(db->executeUpdate(QStringLiteral("CREATE TABLE records(name)")));
    const int journalMode = modeOf(records + QStringLiteral("-journal"));
    ASSERT_TRUE(db->commit());
    db->close();

    const mode_t umask = ::umask(0);
    ::umask(umask);
    const struct {
        QString path;
        int mode;
    } cases[] = {
        {caches(), 0700},
        {caches() + QStringLiteral("/search.sqlite"), 0600},
        {base + QStringLiteral("/config/brindlewick"), 0700},
        {base + QStringLiteral("/config/brindlewick/defaults.ini"), 0600},
        {base + QStringLiteral("/state/Logs"), 0700},
        {base + QStringLiteral("/state/Logs/app"), 0700},
        {log, 0600},
        {base + QStringLiteral("/data/brindlewick"), 0700},
        {records, 0600},
        {base, 0755},
        {inbox(note->key()), int(0666 & ~umask)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(modeOf(c.path), c.mode) << qPrintable(c.path);
    EXPECT_EQ(journalMode, 0600);
}

// Not only the folders: every side file a commit writes or rewrites, whatever the umask.
TEST_F(CommitTest, SideFilesOfACommitAreTheUsersAlone)
{
    const mode_t umask = ::umask(022);
    const NotePtr note = committed(QStringLiteral("Private plans\nfor #work with @anna"));
    note->setText(QStringLiteral("Private plans\nrevised for #work and #home"));
    EXPECT_TRUE(commit(note));
    ::umask(umask);
    QStringList open;
    int files = 0;
    QDirIterator it(caches(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const bool folder = it.fileInfo().isDir();
        files += folder ? 0 : 1;
        if (modeOf(path) != (folder ? 0700 : 0600))
            open << QDir(caches()).relativeFilePath(path) + QStringLiteral(" %1").arg(modeOf(path), 0, 8);
    }
    EXPECT_EQ(open, QStringList());
    // The search database, the meta, header and index files, and a link per tag.
    EXPECT_GE(files, 7);
}
