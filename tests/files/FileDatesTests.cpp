#include "files/FileDates.h"

#include "Clock.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

QString fileNamed(const QString& name)
{
    const QString path = TestSupport::home() + "/dates/" + name;
    QFile::remove(path);
    TestSupport::writeFile(path, "text");
    return path;
}

// The kernel stamps files from a coarse clock that can trail the wall clock by
// a tick, so a file made just after a second begins may carry the one before.
int64_t aSecondBeforeNow() { return Clock::now() - 1; }

} // namespace

TEST(Files, DatesRoundTripInWholeSecondsIncludingBefore1970)
{
    const QString path = fileNamed("round.txt");
    for (const int64_t seconds : {int64_t(1710495012), int64_t(0), int64_t(-86400), int64_t(4102444800)}) {
        ASSERT_TRUE(FileDates::setCreationDate(path, seconds));
        ASSERT_TRUE(FileDates::setModificationDate(path, seconds + 7));
        EXPECT_EQ(FileDates::creationDate(path), seconds);
        EXPECT_EQ(FileDates::modificationDate(path), seconds + 7);
    }
}

TEST(Files, DatesOfMissingFilesAreZeroAndCannotBeSet)
{
    const QString path = TestSupport::home() + "/dates/absent.txt";
    EXPECT_EQ(FileDates::creationDate(path), 0);
    EXPECT_EQ(FileDates::modificationDate(path), 0);
    EXPECT_FALSE(FileDates::setCreationDate(path, 5));
    EXPECT_FALSE(FileDates::setModificationDate(path, 5));
}

// Without the attribute (or with one that is not a number) the creation date
// is the birth time where the file system keeps one, else the modification
// time; never the old modification date given to a new file.
TEST(Files, DatesFallBackToBirthTimeThenModificationTime)
{
    const int64_t before = aSecondBeforeNow();
    const QString path = fileNamed("fallback.txt");
    ASSERT_TRUE(FileDates::setModificationDate(path, 1000));
    struct statx info {};
    ASSERT_EQ(statx(AT_FDCWD, qPrintable(path), 0, STATX_BTIME, &info), 0);
    const bool hasBirth = info.stx_mask & STATX_BTIME;

    const auto expectFallback = [&] {
        if (hasBirth)
            EXPECT_GE(FileDates::creationDate(path), before);
        else
            EXPECT_EQ(FileDates::creationDate(path), 1000);
    };
    expectFallback();
    ASSERT_EQ(setxattr(qPrintable(path), FileDates::CreationDateAttribute, "12x", 3, 0), 0);
    expectFallback();
    ASSERT_EQ(setxattr(qPrintable(path), FileDates::CreationDateAttribute, "", 0, 0), 0);
    expectFallback();
}

// Dates set through an open file read back as those set by path do, and a
// descriptor that is no file sets nothing.
TEST(Files, DatesSetThroughAnOpenFileMatchThoseSetByPath)
{
    const QString path = fileNamed("open.txt");
    for (const int64_t seconds : {int64_t(1710495012), int64_t(0), int64_t(-86400), int64_t(4102444800)}) {
        SCOPED_TRACE(seconds);
        const int fd = ::open(qPrintable(path), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(FileDates::setCreationDate(fd, seconds));
        EXPECT_TRUE(FileDates::setModificationDate(fd, seconds + 7));
        ::close(fd);
        EXPECT_EQ(FileDates::creationDate(path), seconds);
        EXPECT_EQ(FileDates::modificationDate(path), seconds + 7);
        EXPECT_FALSE(FileDates::setCreationDate(-1, seconds));
        EXPECT_FALSE(FileDates::setModificationDate(-1, seconds));
    }
}

// Both dates from one look give what the two single reads give for a regular
// file, links followed; anything else is no file and has no dates.
TEST(Files, RegularFileDatesMatchTheSingleReadsAndRefuseWhatIsNoFile)
{
    const int64_t before = aSecondBeforeNow();
    const QString dir = TestSupport::home() + "/dates/both";
    QDir(dir).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(dir + "/folder"));
    const auto file = [&](const QString& name, const QByteArray& attribute) {
        const QString path = dir + '/' + name;
        TestSupport::writeFile(path, "text");
        EXPECT_TRUE(FileDates::setModificationDate(path, 1000));
        if (!attribute.isNull()) {
            EXPECT_EQ(setxattr(qPrintable(path), FileDates::CreationDateAttribute, attribute.constData(),
                               size_t(attribute.size()), 0),
                      0);
        }
        return path;
    };
    const QString dated = file("dated.txt", "1710495012");
    const QString plain = file("plain.txt", QByteArray());
    const QString malformed = file("malformed.txt", "12x");
    ASSERT_EQ(::symlink(qPrintable(dated), qPrintable(dir + "/link.txt")), 0);
    ASSERT_EQ(::symlink(qPrintable(dir + "/gone.txt"), qPrintable(dir + "/dangling.txt")), 0);

    struct Row {
        QString name;
        bool regular;
        int64_t created; // -1: the birth time, or the modification time without one
    };
    const Row rows[] = {
        {"dated.txt", true, 1710495012},  {"plain.txt", true, -1},    {"malformed.txt", true, -1},
        {"link.txt", true, 1710495012},   {"folder", false, 0},       {"dangling.txt", false, 0},
        {"absent.txt", false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name.toStdString());
        const QString path = dir + '/' + row.name;
        int64_t created = -7;
        int64_t modified = -7;
        EXPECT_EQ(FileDates::regularFileDates(path, &created, &modified), row.regular);
        if (!row.regular) {
            EXPECT_EQ(created, 0);
            EXPECT_EQ(modified, 0);
            continue;
        }
        EXPECT_EQ(modified, 1000);
        EXPECT_EQ(modified, FileDates::modificationDate(path));
        EXPECT_EQ(created, FileDates::creationDate(path));
        if (row.created >= 0)
            EXPECT_EQ(created, row.created);
        else
            EXPECT_TRUE(created == 1000 || created >= before) << created;
    }
}

// A folder's version moves with every name that comes into it, leaves it or is renamed in it, and
// stays while the files inside are written or redated; what is no folder has none.
TEST(Files, FolderVersionMovesWithEachNameThatComesOrGoes)
{
    const QString dir = TestSupport::home() + "/dates/watched";
    QDir(dir).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(dir));
    TestSupport::writeFile(dir + "/kept.txt", "text");
    const int folder = ::open(qPrintable(dir), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"a file written", [&] { TestSupport::writeFile(dir + "/kept.txt", "other text"); }},
        {"a file redated", [&] { FileDates::setModificationDate(dir + "/kept.txt", 1000); }},
        {"a file added", [&] { TestSupport::writeFile(dir + "/added.txt", "text"); }},
        {"a file renamed", [&] { QFile::rename(dir + "/added.txt", dir + "/renamed.txt"); }},
        {"a file removed", [&] { QFile::remove(dir + "/renamed.txt"); }},
        {"a folder made", [&] { QDir().mkpath(dir + "/inner"); }},
    };
    for (const auto& [what, step] : steps) {
        const FileDates::Version before = FileDates::folderVersion(folder);
        ASSERT_GE(before.size, 0) << what;
        // Past the file system clock's tick, which a change within could share.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        step();
        const bool namesChanged = std::string_view(what) != "a file written" && std::string_view(what) != "a file redated";
        EXPECT_EQ(FileDates::folderVersion(folder) != before, namesChanged) << what;
    }
    const int file = ::open(qPrintable(dir + "/kept.txt"), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(FileDates::folderVersion(file).size, -1);
    ::close(file);
    ::close(folder);
}
