#include "files/AtomicFile.h"
#include "files/FileDates.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <fcntl.h>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString freshFolder(const QString& name)
{
    const QString folder = TestSupport::home() + "/atomic/" + name;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return folder;
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

mode_t permissionsOf(const QString& path)
{
    struct stat info {};
    stat(qPrintable(path), &info);
    return info.st_mode & 07777;
}

// Runs body in a child process whose files cannot grow past 4 KB; its exit
// status is what body answered, -1 when it did not exit.
int underFileSizeLimit(const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The folders flushed since the last take, in order, as the watch saw them.
class FlushedFolders {
public:
    FlushedFolders()
    {
        AtomicFile::setFlushWatch([this](const QString& folder) {
            std::lock_guard lock(mutex_);
            folders_.append(folder);
        });
    }
    ~FlushedFolders() { AtomicFile::setFlushWatch({}); }
    QStringList take()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(folders_, {});
    }

private:
    std::mutex mutex_;
    QStringList folders_;
};

} // namespace

TEST(Files, AtomicWriteCreatesAndReplacesLeavingNoTemporary)
{
    const QString folder = freshFolder("replace");
    const QString path = folder + "/Note.txt";
    using Save = bool (*)(const QString&, const QByteArray&);
    const Save saves[] = {
        [](const QString& p, const QByteArray& d) { return AtomicFile::write(p, d, nullptr, false); },
        [](const QString& p, const QByteArray& d) { return AtomicFile::write(p, d, nullptr, true); },
        [](const QString& p, const QByteArray& d) { return AtomicFile::writeCache(p, d); },
    };
    for (const Save save : saves) {
        ASSERT_TRUE(save(path, "first version"));
        EXPECT_EQ(TestSupport::readFile(path), "first version");
        ASSERT_TRUE(save(path, QByteArray()));
        EXPECT_TRUE(QFileInfo::exists(path));
        EXPECT_EQ(TestSupport::readFile(path), QByteArray());
    }
    EXPECT_EQ(entriesOf(folder), QStringList{"Note.txt"});
    // A cache keeps the permissions of the file it replaces too.
    ASSERT_EQ(chmod(qPrintable(path), 0640), 0);
    ASSERT_TRUE(AtomicFile::writeCache(path, "cache"));
    EXPECT_EQ(permissionsOf(path), 0640u);
    EXPECT_FALSE(AtomicFile::writeCache(folder + "/absent/Cache", "x"));
}

TEST(Files, AtomicCreateNeverReplacesAnEntry)
{
    const QString folder = freshFolder("create");
    const QString path = folder + "/Note.txt";
    Error error;
    ASSERT_TRUE(AtomicFile::create(path, "mine", &error));
    EXPECT_EQ(TestSupport::readFile(path), "mine");
    // A file, a dangling link or a folder holding the name all stay.
    ASSERT_EQ(symlink("nowhere", qPrintable(folder + "/Link.txt")), 0);
    QDir().mkpath(folder + "/Folder.txt");
    for (const char* name : {"/Note.txt", "/Link.txt", "/Folder.txt"}) {
        EXPECT_FALSE(AtomicFile::create(folder + name, "theirs", &error)) << name;
        EXPECT_EQ(error.code, EEXIST) << name;
    }
    EXPECT_EQ(TestSupport::readFile(path), "mine");
    EXPECT_TRUE(QFileInfo(folder + "/Link.txt").isSymLink());
    EXPECT_EQ(entriesOf(folder), (QStringList{"Folder.txt", "Note.txt"}));
}

TEST(Files, AtomicWriteKeepsPermissionsAndCreationDateOfTheFileItReplaces)
{
    const QString path = freshFolder("keep") + "/Note.txt";
    TestSupport::writeFile(path, "old");
    // Group write is a bit the usual umask takes from a new file.
    ASSERT_EQ(chmod(qPrintable(path), 0660), 0);
    ASSERT_TRUE(FileDates::setCreationDate(path, 1000000000));
    ASSERT_TRUE(FileDates::setModificationDate(path, 1000000500));

    const mode_t savedMask = umask(022);
    const bool written = AtomicFile::write(path, "new", nullptr, true);
    umask(savedMask);
    ASSERT_TRUE(written);
    ASSERT_TRUE(FileDates::setModificationDate(path, 1700000000));

    EXPECT_EQ(TestSupport::readFile(path), "new");
    EXPECT_EQ(permissionsOf(path), 0660u);
    EXPECT_EQ(FileDates::creationDate(path), 1000000000);
    EXPECT_EQ(FileDates::modificationDate(path), 1700000000);

    // A file that never had the attribute keeps the date it had before.
    const QString unmarked = QFileInfo(path).absolutePath() + "/Unmarked.txt";
    TestSupport::writeFile(unmarked, "old");
    ASSERT_TRUE(FileDates::setModificationDate(unmarked, 1000));
    const int64_t created = FileDates::creationDate(unmarked);
    ASSERT_TRUE(AtomicFile::write(unmarked, "new"));
    EXPECT_EQ(FileDates::creationDate(unmarked), created);
}

TEST(Files, AtomicWriteRefusesEmptyPathsMissingFoldersAndFolders)
{
    Error error;
    EXPECT_FALSE(AtomicFile::write(QString(), "x", &error));
    EXPECT_EQ(error.code, EINVAL);

    const QString root = freshFolder("missing");
    EXPECT_FALSE(AtomicFile::write(root + "/absent/Note.txt", "x", &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(error.domain, "NSPOSIXErrorDomain");
    EXPECT_TRUE(entriesOf(root).isEmpty());

    QDir().mkpath(root + "/folder/inside");
    EXPECT_FALSE(AtomicFile::write(root + "/folder", "x", &error));
    EXPECT_TRUE(QFileInfo(root + "/folder/inside").isDir());
    EXPECT_EQ(entriesOf(root), QStringList{"folder"});
}

// A write that fails half-way (here the file-size limit cuts it off) leaves
// the old file whole and no temporary behind. Runs in a child process so the
// limit touches nothing else.
TEST(Files, AtomicWriteFailingMidwayLeavesOldFileIntact)
{
    const QString folder = freshFolder("midway");
    const QString path = folder + "/Note.txt";
    TestSupport::writeFile(path, "the old text");
    const QByteArray large(64 * 1024, 'n');

    EXPECT_EQ(underFileSizeLimit([&] {
                  Error error;
                  const bool written = AtomicFile::write(path, large, &error, true);
                  return written ? 0 : (error.code == EFBIG ? 1 : 2);
              }),
              1);
    EXPECT_EQ(TestSupport::readFile(path), "the old text");
    EXPECT_EQ(entriesOf(folder), QStringList{"Note.txt"});
}

TEST(Files, AtomicWriteIntoReadOnlyFolderFailsAndKeepsOldFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    const QString folder = freshFolder("readonly");
    const QString path = folder + "/Note.txt";
    TestSupport::writeFile(path, "kept");
    ASSERT_EQ(chmod(qPrintable(folder), 0555), 0);
    Error error;
    EXPECT_FALSE(AtomicFile::write(path, "lost", &error));
    chmod(qPrintable(folder), 0755);
    EXPECT_EQ(error.code, EACCES);
    EXPECT_EQ(TestSupport::readFile(path), "kept");
    EXPECT_EQ(entriesOf(folder), QStringList{"Note.txt"});
}

TEST(Files, AtomicWriteGoesThroughSymbolicLinks)
{
    const QString folder = freshFolder("links");
    const QString elsewhere = freshFolder("links-target");
    TestSupport::writeFile(elsewhere + "/Real.txt", "old");
    // A relative link, a link to a link, and a dangling link.
    ASSERT_EQ(::symlink("../links-target/Real.txt", qPrintable(folder + "/Note.txt")), 0);
    ASSERT_EQ(::symlink("Note.txt", qPrintable(folder + "/Alias.txt")), 0);
    ASSERT_EQ(::symlink(qPrintable(elsewhere + "/New.txt"), qPrintable(folder + "/Dangling.txt")), 0);
    const struct {
        const char* link;
        const char* target;
    } cases[] = {{"Note.txt", "Real.txt"}, {"Alias.txt", "Real.txt"}, {"Dangling.txt", "New.txt"}};
    for (const auto& c : cases) {
        const QByteArray text = QByteArray("through ") + c.link;
        ASSERT_TRUE(AtomicFile::write(folder + "/" + c.link, text)) << c.link;
        EXPECT_TRUE(QFileInfo(folder + "/" + c.link).isSymLink()) << c.link;
        EXPECT_EQ(TestSupport::readFile(elsewhere + "/" + c.target), text) << c.link;
    }
    EXPECT_EQ(entriesOf(folder), (QStringList{"Alias.txt", "Dangling.txt", "Note.txt"}));
    EXPECT_EQ(entriesOf(elsewhere), (QStringList{"New.txt", "Real.txt"}));
}

namespace {

// A cache file made by create(path, data) takes only a free name, fails
// with the errno and leaves no temporary.
void expectCacheCreatedUnderAFreeNameOnly(const QString& folder,
                                          const std::function<int(const QString&, const QByteArray&)>& create)
{
    ASSERT_EQ(symlink("nowhere", qPrintable(folder + "/Link.txt")), 0);
    QDir().mkpath(folder + "/Folder.txt");
    TestSupport::writeFile(folder + "/Taken.txt", "old");
    const QByteArray large(64 * 1024 + 1, 'r');
    const struct {
        const char* name;
        QByteArray data;
        int code;
    } cases[] = {
        {"New.txt", "record", 0},
        {"Empty.txt", QByteArray(), 0},
        {"Large.txt", large, 0},
        {"Taken.txt", "new", EEXIST},
        {"Link.txt", "new", EEXIST},
        {"Folder.txt", "new", EEXIST},
    };
    for (const auto& c : cases)
        EXPECT_EQ(create(folder + "/" + c.name, c.data), c.code) << c.name;
    // A failed save names no entry: the folder it was refused for stays as it was.
    AtomicFile::setFaultCheck([](const QString& path) { return path.endsWith("/Full.txt") ? ENOSPC : 0; });
    EXPECT_EQ(create(folder + "/Full.txt", "x"), ENOSPC);
    AtomicFile::setFaultCheck({});
    EXPECT_EQ(underFileSizeLimit([&] { return create(folder + "/Cut.txt", large); }), EFBIG);

    EXPECT_EQ(TestSupport::readFile(folder + "/New.txt"), "record");
    EXPECT_TRUE(QFileInfo(folder + "/Empty.txt").isFile());
    EXPECT_EQ(TestSupport::readFile(folder + "/Empty.txt"), QByteArray());
    EXPECT_EQ(TestSupport::readFile(folder + "/Large.txt"), large);
    EXPECT_EQ(TestSupport::readFile(folder + "/Taken.txt"), "old");
    EXPECT_TRUE(QFileInfo(folder + "/Link.txt").isSymLink());
    EXPECT_TRUE(QFileInfo(folder + "/Folder.txt").isDir());
    // The listing leaves the dangling link out, and holds no temporary.
    EXPECT_EQ(entriesOf(folder), (QStringList{"Empty.txt", "Folder.txt", "Large.txt", "New.txt", "Taken.txt"}));
}

} // namespace

TEST(Files, CacheCreatedInAnOpenFolderTakesOnlyAFreeNameAndLeavesNoTemporary)
{
    const QString folder = freshFolder("at");
    const int fd = open(qPrintable(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(AtomicFile::createCacheAt(-1, folder + "/Other.txt", "x"), EINVAL);
    expectCacheCreatedUnderAFreeNameOnly(
        folder, [fd](const QString& path, const QByteArray& data) { return AtomicFile::createCacheAt(fd, path, data); });
    close(fd);
}

TEST(Files, CacheCreatedByPathTakesOnlyAFreeNameAndLeavesNoTemporary)
{
    const QString folder = freshFolder("path");
    EXPECT_EQ(AtomicFile::createCache(QString(), "x"), EINVAL);
    EXPECT_EQ(AtomicFile::createCache(folder + "/Missing/New.txt", "x"), ENOENT);
    expectCacheCreatedUnderAFreeNameOnly(folder, AtomicFile::createCache);
}

TEST(Files, HoldsAnswersOnlyForARegularFileWithExactlyTheBytes)
{
    const QString folder = freshFolder("holds");
    const QByteArray bytes = "Plan\nThe week ahead\n";
    ASSERT_TRUE(AtomicFile::write(folder + "/note.txt", bytes));
    ASSERT_EQ(::symlink(qPrintable(folder + "/note.txt"), qPrintable(folder + "/link.txt")), 0);
    ASSERT_EQ(::mkfifo(qPrintable(folder + "/pipe.txt"), 0600), 0);
    QDir().mkpath(folder + "/folder.txt");
    const struct {
        const char* name;
        QByteArray data;
        bool held;
    } cases[] = {
        {"note.txt", bytes, true},
        {"link.txt", bytes, true},
        {"note.txt", "Plan\nThe week ahead!", false},    // same length, other bytes
        {"note.txt", bytes.chopped(1), false},           // the file is longer
        {"note.txt", bytes + "\n", false},               // the file is shorter
        {"note.txt", QByteArray(), false},
        {"missing.txt", QByteArray(), false},
        {"pipe.txt", QByteArray(), false},               // must not block on the reader
        {"folder.txt", QByteArray(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AtomicFile::holds(folder + "/" + c.name, c.data), c.held) << c.name << " " << c.data.constData();
    EXPECT_FALSE(AtomicFile::holds(QString(), QByteArray()));

    // A disk that refuses the save refuses its dates too: the caller must try the write.
    AtomicFile::setFaultCheck([](const QString&) { return EROFS; });
    EXPECT_FALSE(AtomicFile::holds(folder + "/note.txt", bytes));
    AtomicFile::setFaultCheck({});
}

TEST(Files, AFolderFlushHolderFlushesEachFolderItWasLeftOnceAndOnlyItsThreadsSaves)
{
    const QString a = QFileInfo(freshFolder("flushA")).absoluteFilePath();
    const QString b = QFileInfo(freshFolder("flushB")).absoluteFilePath();
    const auto durable = [](const QString& path) { return AtomicFile::write(path, "x", nullptr, true); };
    FlushedFolders flushed;

    // No holder: a durable save or creation flushes its folder at once, the others none.
    ASSERT_TRUE(durable(a + "/1.txt"));
    ASSERT_TRUE(AtomicFile::create(b + "/1.txt", "x", nullptr, true));
    ASSERT_TRUE(AtomicFile::write(a + "/2.txt", "x", nullptr, false));
    ASSERT_TRUE(AtomicFile::writeCache(a + "/cache", "x"));
    EXPECT_EQ(flushed.take(), (QStringList{a, b}));

    {
        AtomicFile::FolderFlushes holder;
        holder.collect([&] {
            for (const char* name : {"/3.txt", "/4.txt", "/5.txt"})
                ASSERT_TRUE(durable(a + name));
            ASSERT_TRUE(AtomicFile::create(b + "/2.txt", "x", nullptr, true));
            // Another thread's save is not the holder's.
            std::thread([&] { EXPECT_TRUE(durable(b + "/3.txt")); }).join();
            EXPECT_EQ(flushed.take(), QStringList{b});
        });
        EXPECT_EQ(flushed.take(), QStringList());
        ASSERT_TRUE(durable(a + "/6.txt")); // after collect: at once
        EXPECT_EQ(flushed.take(), QStringList{a});
        holder.flush();
        EXPECT_EQ(flushed.take(), (QStringList{a, b}));
        holder.flush();
        EXPECT_EQ(flushed.take(), QStringList());
        // A failed save leaves nothing to flush.
        AtomicFile::setFaultCheck([](const QString& path) { return path.endsWith("/Full.txt") ? ENOSPC : 0; });
        holder.collect([&] { EXPECT_FALSE(durable(a + "/Full.txt")); });
        AtomicFile::setFaultCheck({});
        holder.flush();
        EXPECT_EQ(flushed.take(), QStringList());
        // Flushed while other work runs here: that work sees no folder told
        // flushed, and each is told once, in order, before the call returns.
        holder.collect([&] {
            ASSERT_TRUE(durable(b + "/6.txt"));
            ASSERT_TRUE(durable(a + "/9.txt"));
        });
        const std::thread::id caller = std::this_thread::get_id();
        holder.flushWhile([&] {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            EXPECT_EQ(flushed.take(), QStringList());
        });
        EXPECT_EQ(flushed.take(), (QStringList{b, a}));
        holder.collect([&] { ASSERT_TRUE(durable(b + "/4.txt")); });
    }
    EXPECT_EQ(flushed.take(), QStringList{b}); // at its end

    // A holder collecting inside another's takes the folders until its collect returns.
    AtomicFile::FolderFlushes outer;
    outer.collect([&] {
        ASSERT_TRUE(durable(a + "/7.txt"));
        {
            AtomicFile::FolderFlushes inner;
            inner.collect([&] { ASSERT_TRUE(durable(b + "/5.txt")); });
            ASSERT_TRUE(durable(a + "/8.txt"));
            EXPECT_EQ(flushed.take(), QStringList());
        }
        EXPECT_EQ(flushed.take(), QStringList{b});
    });
    outer.flush();
    EXPECT_EQ(flushed.take(), QStringList{a});
}

namespace {

ino_t inodeOf(const QString& path)
{
    struct stat info {};
    return ::stat(qPrintable(path), &info) == 0 ? info.st_ino : 0;
}

} // namespace

// A text written ahead is moved into place by the durable save of the same
// target and bytes on the holder's thread, and only by that; the others save
// as ever, and whatever no save took is gone with the holder.
TEST(Files, ATextWrittenAheadIsTakenOnlyByADurableSaveOfTheSameTargetAndBytes)
{
    using Save = std::function<bool(const QString& path)>;
    const Save durable = [](const QString& p) { return AtomicFile::write(p, "ahead", nullptr, true); };
    const struct {
        const char* name;
        bool made;
        bool existed;
        Save save;
        bool taken;
        // Made durable while other work runs on the holder's thread.
        bool beside = false;
    } cases[] = {
        {"new", true, false, durable, true},
        {"newBesideOtherWork", true, false, durable, true, true},
        {"created", true, false, [](const QString& p) { return AtomicFile::create(p, "ahead", nullptr, true); }, true},
        {"replaced", true, true, durable, true},
        {"notMadeDurable", false, false, durable, false},
        {"otherBytes", true, false, [](const QString& p) { return AtomicFile::write(p, "other", nullptr, true); }, false},
        {"otherName", true, false, [](const QString& p) { return AtomicFile::write(p + ".2", "ahead", nullptr, true); }, false},
        {"cache", true, false, [](const QString& p) { return AtomicFile::writeCache(p, "ahead"); }, false},
        {"otherThread", true, false,
         [](const QString& p) {
             bool saved = false;
             std::thread([&] { saved = AtomicFile::write(p, "ahead", nullptr, true); }).join();
             return saved;
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = QFileInfo(freshFolder(QString("ahead-") + c.name)).absoluteFilePath();
        const QString path = folder + "/Note.txt";
        if (c.existed) {
            TestSupport::writeFile(path, "old");
            ASSERT_EQ(chmod(qPrintable(path), 0660), 0);
            ASSERT_TRUE(FileDates::setCreationDate(path, 1000000000));
        }
        FlushedFolders flushed;
        {
            AtomicFile::Prepared ahead;
            ahead.prepare(path, "ahead");
            bool besideRan = false;
            if (c.made && c.beside)
                ahead.makeDurable([&] { besideRan = true; });
            else if (c.made)
                ahead.makeDurable();
            EXPECT_EQ(besideRan, c.beside);
            const QStringList temporaries = flushed.take();
            ASSERT_EQ(temporaries.size(), c.made ? 1 : 0);
            const ino_t written = c.made ? inodeOf(temporaries.first()) : 0;
            ASSERT_TRUE(c.save(path));
            EXPECT_EQ(written != 0 && inodeOf(path) == written, c.taken);
            // A cache's save flushes nothing; a durable one its folder, once, after its move.
            EXPECT_EQ(flushed.take(), QString(c.name) == "cache" ? QStringList() : QStringList{folder});
        }
        EXPECT_EQ(QDir(folder).entryList(QDir::Hidden | QDir::Files).filter(".tmp"), QStringList());
        if (c.existed) {
            EXPECT_EQ(TestSupport::readFile(path), "ahead");
            EXPECT_EQ(permissionsOf(path), 0660u);
            EXPECT_EQ(FileDates::creationDate(path), 1000000000);
        }
    }
}

// What cannot be written ahead is saved as ever, and a creation over a name
// taken meanwhile still fails, leaving the entry as it was.
TEST(Files, ATextThatCannotBeWrittenAheadIsSavedAsEver)
{
    const QString folder = QFileInfo(freshFolder("ahead-faults")).absoluteFilePath();
    AtomicFile::Prepared ahead;
    AtomicFile::setFaultCheck([](const QString& path) { return path.endsWith("/Full.txt") ? ENOSPC : 0; });
    ahead.prepare(folder + "/Full.txt", "x");
    AtomicFile::setFaultCheck({});
    ahead.prepare(folder + "/missing/Note.txt", "x");
    ahead.prepare(folder + "/Taken.txt", "x");
    ahead.prepare(QString(), "x");
    // Work beside the flushes runs even with no text to flush.
    bool besideRan = false;
    AtomicFile::Prepared().makeDurable([&] { besideRan = true; });
    EXPECT_TRUE(besideRan);
    ahead.makeDurable();
    TestSupport::writeFile(folder + "/Taken.txt", "theirs");

    EXPECT_TRUE(AtomicFile::write(folder + "/Full.txt", "x", nullptr, true));
    Error error;
    EXPECT_FALSE(AtomicFile::create(folder + "/Taken.txt", "x", &error, true));
    EXPECT_EQ(TestSupport::readFile(folder + "/Full.txt"), "x");
    EXPECT_EQ(TestSupport::readFile(folder + "/Taken.txt"), "theirs");
    EXPECT_EQ(entriesOf(folder).filter(".tmp").size(), 1) << "the one for Taken.txt, until the holder ends";
}

// A guarded replacement asks its check just before the rename: a check that says no leaves the file and
// no temporary behind.
TEST(Files, AtomicWriteIfUnchangedReplacesOnlyWhileTheCheckHolds)
{
    const QString folder = freshFolder("unchanged");
    const QString path = folder + "/Note.txt";
    TestSupport::writeFile(path, "base");
    for (const bool unchanged : {false, true}) {
        Error error;
        EXPECT_EQ(AtomicFile::writeIfUnchanged(path, "mine", [&] { return unchanged; }, &error), unchanged);
        EXPECT_EQ(error.code, unchanged ? 0 : ESTALE);
        EXPECT_EQ(TestSupport::readFile(path), unchanged ? "mine" : "base");
        EXPECT_EQ(entriesOf(folder), QStringList{"Note.txt"});
    }
}

// Two saves over the same version at once (each opens the folder for itself, as another process
// does): the one that checks second sees the first one's file and does not write over it.
TEST(Files, AtomicWriteIfUnchangedLetsOneOfTwoSavesReplaceAVersion)
{
    const QString path = freshFolder("two-savers") + "/Note.txt";
    TestSupport::writeFile(path, "base");
    const auto stillBase = [path] { return TestSupport::readFile(path) == "base"; };
    std::mutex mutex;
    std::condition_variable changed;
    bool checking = false;
    bool release = false;
    bool firstSaved = false;
    std::thread first([&] {
        firstSaved = AtomicFile::writeIfUnchanged(path, "first", [&] {
            std::unique_lock lock(mutex);
            checking = true;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
            return stillBase();
        });
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return checking; });
    }
    Error secondError;
    bool secondSaved = true;
    std::thread second([&] { secondSaved = AtomicFile::writeIfUnchanged(path, "second", stillBase, &secondError); });
    // Time for the second to reach its check, were nothing holding it back.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    {
        std::lock_guard lock(mutex);
        release = true;
        changed.notify_all();
    }
    first.join();
    second.join();
    EXPECT_TRUE(firstSaved);
    EXPECT_FALSE(secondSaved);
    EXPECT_EQ(secondError.code, ESTALE);
    EXPECT_EQ(TestSupport::readFile(path), "first");
}
