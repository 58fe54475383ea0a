#include "files/Trash.h"

#include "Clock.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TrashInfo {
    QString path;
    QString deletionDate;
};

TrashInfo readInfo(const QString& trashedPath)
{
    const QString name = QFileInfo(trashedPath).fileName();
    const QByteArray bytes = TestSupport::readFile(Trash::folder() + "/info/" + name + ".trashinfo");
    const QList<QByteArray> lines = bytes.split('\n');
    TrashInfo info;
    if (lines.value(0) != "[Trash Info]")
        return info;
    for (const QByteArray& line : lines) {
        if (line.startsWith("Path="))
            info.path = QUrl::fromPercentEncoding(line.mid(5));
        else if (line.startsWith("DeletionDate="))
            info.deletionDate = QString::fromLatin1(line.mid(13));
    }
    return info;
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Runs a test with a data folder of its own, from an empty working directory
// that must stay empty: a trash that falls back to the working directory
// shows up there.
class FilesTrash : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString run = TestSupport::home() + "/trash-run-" + QString::number(counter++);
        QDir(run).removeRecursively();
        working = run + "/working";
        ASSERT_TRUE(QDir().mkpath(working));
        data = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(run + "/share"));
        previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(working));
        Clock::setWallClock([] { return 1710495012.5; }); // 2024-03-15 09:30:12 UTC
    }
    void TearDown() override
    {
        EXPECT_TRUE(entriesOf(working).isEmpty()) << qPrintable(entriesOf(working).join(", "));
        QDir::setCurrent(previous);
        qputenv("XDG_DATA_HOME", data);
        Clock::setWallClock({});
    }
    QString working;
    QString previous;
    QByteArray data;
    static inline int counter = 0;
};

} // namespace

TEST_F(FilesTrash, TrashMovesFileIntoTrashWithItsRecord)
{
    const QString origin = TestSupport::home() + "/Documents/Brindlewick/Home/Meeting notes é #1.txt";
    TestSupport::writeFile(origin, "agenda");

    QString trashed;
    Error error;
    ASSERT_TRUE(Trash::moveToTrash(origin, &trashed, &error)) << qPrintable(error.localizedDescription());

    EXPECT_FALSE(QFileInfo::exists(origin));
    EXPECT_EQ(trashed, Trash::folder() + "/files/Meeting notes é #1.txt");
    EXPECT_EQ(TestSupport::readFile(trashed), "agenda");
    const TrashInfo info = readInfo(trashed);
    EXPECT_EQ(info.path, origin);
    EXPECT_EQ(QDateTime::fromString(info.deletionDate, Qt::ISODate), QDateTime::fromSecsSinceEpoch(1710495012));
    EXPECT_EQ(Trash::folder(), QFileInfo(working).absolutePath() + "/share/Trash");
}

TEST_F(FilesTrash, TrashAndWhatItHoldsAreTheUsersAlone)
{
    const mode_t oldMask = ::umask(022);
    const QString from = TestSupport::home() + "/private-" + QString::number(counter);
    const struct {
        const char* name;
        int mode;
        int trashed;
    } items[] = {{"note.txt", 0644, 0600}, {"tool", 0755, 0700}, {"folder", 0755 | S_IFDIR, 0700}};
    for (const auto& item : items) {
        SCOPED_TRACE(item.name);
        const QString origin = from + "/" + item.name;
        if (S_ISDIR(item.mode))
            TestSupport::writeFile(origin + "/inner.txt", "text");
        else
            TestSupport::writeFile(origin, "text");
        ASSERT_EQ(::chmod(QFile::encodeName(origin).constData(), mode_t(item.mode & 07777)), 0);
        QString trashed;
        ASSERT_TRUE(Trash::moveToTrash(origin, &trashed));
        EXPECT_EQ(TestSupport::modeOf(trashed), item.trashed);
        EXPECT_EQ(TestSupport::modeOf(Trash::folder() + "/info/" + item.name + ".trashinfo"), 0600);
    }
    for (const QString& folder : {Trash::folder(), Trash::folder() + "/files", Trash::folder() + "/info"})
        EXPECT_EQ(TestSupport::modeOf(folder), 0700) << qPrintable(folder);
    ::umask(oldMask);
}

TEST_F(FilesTrash, TrashGivesSameNamesFreshNamesAndKeepsBoth)
{
    const QString origin = TestSupport::home() + "/same/Plan.txt";
    QStringList trashed;
    for (const QByteArray text : {"first", "second", "third"}) {
        TestSupport::writeFile(origin, text);
        QString path;
        ASSERT_TRUE(Trash::moveToTrash(origin, &path));
        trashed << path;
    }
    ASSERT_EQ(trashed.size(), 3);
    EXPECT_EQ(QFileInfo(trashed[0]).fileName(), "Plan.txt");
    EXPECT_EQ(QFileInfo(trashed[1]).fileName(), "Plan.2.txt");
    EXPECT_EQ(QFileInfo(trashed[2]).fileName(), "Plan.3.txt");
    EXPECT_EQ(TestSupport::readFile(trashed[0]), "first");
    EXPECT_EQ(TestSupport::readFile(trashed[2]), "third");
    for (const QString& path : trashed)
        EXPECT_EQ(readInfo(path).path, origin);
}

TEST_F(FilesTrash, TrashTakesFoldersAndRelativePaths)
{
    const QString parent = QFileInfo(working).absolutePath();
    TestSupport::writeFile(parent + "/loose/inner/a.txt", "a");
    ASSERT_TRUE(QDir::setCurrent(parent));
    QString trashed;
    ASSERT_TRUE(Trash::moveToTrash("loose", &trashed));
    ASSERT_TRUE(QDir::setCurrent(working));
    EXPECT_EQ(TestSupport::readFile(trashed + "/inner/a.txt"), "a");
    EXPECT_EQ(readInfo(trashed).path, parent + "/loose");
}

TEST_F(FilesTrash, TrashRefusesWhatIsNotThereAndLeavesNoRecord)
{
    const QStringList before = entriesOf(Trash::folder() + "/info");
    Error error;
    EXPECT_FALSE(Trash::moveToTrash(TestSupport::home() + "/missing.txt", nullptr, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(Trash::moveToTrash(QString(), nullptr, &error));
    EXPECT_FALSE(Trash::moveToTrash("/", nullptr, &error));
    EXPECT_EQ(entriesOf(Trash::folder() + "/info"), before);
}

TEST_F(FilesTrash, TrashNeverUsesWorkingDirectoryWhenDataFolderIsUnsetOrRelative)
{
    for (const QByteArray& value : {QByteArray(), QByteArray("relative/share")}) {
        qputenv("XDG_DATA_HOME", value);
        EXPECT_EQ(Trash::folder(), TestSupport::home() + "/.local/share/Trash");
        const QString origin = TestSupport::home() + "/unset.txt";
        TestSupport::writeFile(origin, "x");
        QString trashed;
        EXPECT_TRUE(Trash::moveToTrash(origin, &trashed));
        EXPECT_EQ(trashed, TestSupport::home() + "/.local/share/Trash/files/unset.txt");
        QDir(Trash::folder()).removeRecursively();
    }
}

TEST_F(FilesTrash, TrashCopiesAcrossDevicesThenRemovesTheOriginal)
{
    struct stat shm {}, home {};
    if (stat("/dev/shm", &shm) != 0 || access("/dev/shm", W_OK) != 0 || stat(qPrintable(TestSupport::home()), &home) != 0
        || shm.st_dev == home.st_dev)
        GTEST_SKIP() << "no writable second device";
    const QString origin = QStringLiteral("/dev/shm/brindlewick-trash-%1").arg(QCoreApplication::applicationPid());
    TestSupport::writeFile(origin + "/note.txt", "far away");
    QFile::link("note.txt", origin + "/link");
    QString trashed;
    Error error;
    ASSERT_TRUE(Trash::moveToTrash(origin, &trashed, &error)) << qPrintable(error.localizedDescription());
    EXPECT_FALSE(QFileInfo::exists(origin));
    EXPECT_EQ(TestSupport::readFile(trashed + "/note.txt"), "far away");
    EXPECT_EQ(QFileInfo(trashed + "/link").symLinkTarget(), trashed + "/note.txt");
    EXPECT_EQ(readInfo(trashed).path, origin);
}

TEST_F(FilesTrash, TrashTakesNamesUpToTheFileSystemsLimit)
{
    // 255-byte names: the record's ".trashinfo" would pass the limit unshortened.
    const QString eAcute = QStringLiteral("é");
    const QList<QString> names{QString(251, 'a') + ".txt", eAcute.repeated(125) + "x.txt",
                               "a." + QString(253, 'b'), QString(245, 'c')};
    for (const QString& name : names) {
        for (int copy = 0; copy < 2; ++copy) {
            const QString origin = TestSupport::home() + "/long/" + name;
            TestSupport::writeFile(origin, name.toUtf8());
            QString trashed;
            Error error;
            ASSERT_TRUE(Trash::moveToTrash(origin, &trashed, &error))
                << name.size() << " " << qPrintable(error.localizedDescription());
            EXPECT_FALSE(QFileInfo::exists(origin));
            EXPECT_EQ(TestSupport::readFile(trashed), name.toUtf8());
            EXPECT_LE(QFileInfo(trashed).fileName().toUtf8().size() + 10, 255);
            // A shortened name keeps its short extension.
            EXPECT_EQ(trashed.endsWith(".txt"), name.endsWith(".txt"));
            EXPECT_EQ(readInfo(trashed).path, origin);
        }
    }
}
