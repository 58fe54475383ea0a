#include "files/HeldFolder.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QString folderWithEveryKind()
{
    const QString folder = TestSupport::home() + "/held";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder + "/folder");
    TestSupport::writeFile(folder + "/file.txt", "text");
    TestSupport::writeFile(folder + "/.hidden", "text");
    QFile::link(folder + "/file.txt", folder + "/link to file");
    QFile::link(folder + "/folder", folder + "/link to folder");
    QFile::link(folder + "/gone", folder + "/broken link");
    ::mkfifo(qPrintable(folder + "/fifo"), 0600);
    FileTimes::setModificationTime(folder + "/file.txt", FileTime{1710495012, 123456789});
    return folder;
}

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

} // namespace

// The listings stand for QDir's, which the passes used before.
TEST(Files, AHeldFolderListsTheEntriesQDirWould)
{
    const QString folder = folderWithEveryKind();
    const HeldFolder held(folder);
    const struct {
        HeldFolder::Entries entries;
        QDir::Filters filters;
        QStringList expected;
    } cases[] = {
        {HeldFolder::Entries::Files, QDir::Files, {"file.txt", "link to file"}},
        {HeldFolder::Entries::NonFolders, QDir::Files | QDir::System, {"broken link", "fifo", "file.txt", "link to file"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sorted(held.names(c.entries)), c.expected);
        EXPECT_EQ(sorted(held.names(c.entries)), sorted(QDir(folder).entryList(c.filters)));
        EXPECT_TRUE(HeldFolder(folder + "/missing").names(c.entries).isEmpty());
    }
}

TEST(Files, AHeldFolderDatesAnEntryAsItsPathWould)
{
    const QString folder = folderWithEveryKind();
    const HeldFolder held(folder);
    for (const QString name : {"file.txt", "link to file", "folder", "broken link", "missing", ""}) {
        SCOPED_TRACE(qPrintable(name));
        EXPECT_EQ(held.modificationTime(name), name.isEmpty() ? std::nullopt : FileTimes::modificationTime(folder + "/" + name));
    }
    EXPECT_EQ(held.modificationTime("link to file"), (FileTime{1710495012, 123456789}));
    EXPECT_EQ(HeldFolder(folder + "/missing").modificationTime("file.txt"), std::nullopt);
}

// The folder held stays the one read, even once another takes its path.
TEST(Files, AHeldFolderKeepsReadingTheFolderItOpened)
{
    const QString folder = folderWithEveryKind();
    const HeldFolder held(folder);
    ASSERT_TRUE(QDir().rename(folder, folder + " moved"));
    QDir().mkpath(folder);
    EXPECT_EQ(held.modificationTime("file.txt"), (FileTime{1710495012, 123456789}));
    // The link names the old path, where nothing is now.
    EXPECT_EQ(sorted(held.names(HeldFolder::Entries::Files)), QStringList{"file.txt"});
    QDir(folder + " moved").removeRecursively();
}

// Enough names for several slices, the missing ones among them.
TEST(Files, AHeldFolderDatesManyNamesAsOneByOne)
{
    const QString folder = TestSupport::home() + "/held-many";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    QStringList names;
    for (int i = 0; i < 700; ++i) {
        const QString name = QString::number(i) + ".txt";
        names << name;
        if (i % 7 == 3)
            continue;
        TestSupport::writeFile(folder + "/" + name, "text");
        FileTimes::setModificationTime(folder + "/" + name, FileTime{1710495012 + i, i * 1000});
    }
    const HeldFolder held(folder);
    for (const QStringList& asked : {names, names.mid(0, 1), QStringList()}) {
        const std::vector<std::optional<FileTime>> times = held.modificationTimes(asked);
        ASSERT_EQ(times.size(), size_t(asked.size()));
        for (qsizetype i = 0; i < asked.size(); ++i)
            ASSERT_EQ(times[size_t(i)], held.modificationTime(asked[i])) << qPrintable(asked[i]);
    }
    EXPECT_EQ(held.modificationTimes(names)[3], std::nullopt);
    EXPECT_EQ(held.modificationTimes(names)[699], (FileTime{1710495012 + 699, 699000}));
    QDir(folder).removeRecursively();
}
