#include "WarehouseTestSupport.h"

#include "files/AtomicFile.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// No folder watch here: the save comes before anything has taken the outside write in.
class OutsideWrite : public WarehouseTest {
protected:
    static QStringList homeFiles()
    {
        return QDir(Note::documentDirectoryForStorage(NoteStorageInbox)).entryList(QDir::Files);
    }
};

enum class Change { None, RewriteSameText, Append, ReplaceShorter, ReplaceKeepingSizeAndTime, Delete };

// Another program's write, as a sync program's copy of the same text, a
// shell's ">>", an editor's save, a sync program's rename over the file
// (times kept), or "rm" leave it.
void changeOutside(const QString& path, Change change)
{
    switch (change) {
    case Change::None: break;
    case Change::RewriteSameText: {
        const QByteArray same = TestSupport::readFile(path);
        ASSERT_TRUE(QFile::remove(path));
        TestSupport::writeFile(path, same);
        break;
    }
    case Change::Append: {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write("\nfrom the shell");
        break;
    }
    case Change::ReplaceShorter: TestSupport::writeFile(path, "Short"); break;
    case Change::ReplaceKeepingSizeAndTime: {
        struct stat before {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
        const QString temporary = path + QStringLiteral(".sync");
        TestSupport::writeFile(temporary, "Plan\nthey");
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(temporary).constData(), times, 0), 0);
        ASSERT_EQ(::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()), 0);
        break;
    }
    case Change::Delete: ASSERT_TRUE(QFile::remove(path)); break;
    }
}

// Written between the last read and an autosave, or while the save is under
// way (after its first look at the file, as another window's save can be):
// the file keeps the other program's text and the typed text becomes a note
// of its own, which later saves keep writing. A removed file is simply
// written again.
TEST_F(OutsideWrite, AnAutosaveNeverWritesOverTextItHasNotRead)
{
    struct Case {
        const char* name;
        Change change;
        QByteArray outsideText; // what the file holds afterwards when forked; empty: no fork
    };
    const Case cases[] = {
        {"none", Change::None, {}},
        {"same text", Change::RewriteSameText, {}},
        {"append", Change::Append, "Plan\nours\nfrom the shell"},
        {"shorter", Change::ReplaceShorter, "Short"},
        {"same size and time", Change::ReplaceKeepingSizeAndTime, "Plan\nthey"},
        {"delete", Change::Delete, {}},
    };
    for (const Case& c : cases)
    for (const bool duringTheSave : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + (duringTheSave ? ", during the save" : ""));
        const QString key = QStringLiteral("Plan %1%2.txt").arg(QLatin1String(c.name), duringTheSave ? " late" : "");
        const QString path = Note::documentFileForKey(key, NoteStorageInbox);
        const NotePtr note = startSaved(key, QStringLiteral("Plan\nours"));
        const QStringList filesBefore = homeFiles();

        type(QStringLiteral(" typed here"));
        if (duringTheSave) {
            // The save's first look at the file is behind it when the disk is asked.
            AtomicFile::setFaultCheck([path, change = c.change, done = false](const QString& target) mutable {
                if (QFileInfo(target).absoluteFilePath() == QFileInfo(path).absoluteFilePath() && !std::exchange(done, true))
                    changeOutside(path, change);
                return 0;
            });
        } else {
            changeOutside(path, c.change);
        }
        advance(Warehouse::AutoSaveDelay);
        Dispatch::waitUntilIdle();
        AtomicFile::setFaultCheck({});
        type(QStringLiteral(", then more"));
        advance(Warehouse::AutoSaveDelay);
        Dispatch::waitUntilIdle();

        const QString typed = QStringLiteral("Plan\nours typed here, then more");
        EXPECT_EQ(textOnDisk(note), typed);
        EXPECT_EQ(warehouse->editingChanges(), 0);
        if (c.outsideText.isEmpty()) {
            EXPECT_EQ(note->key(), key);
            EXPECT_EQ(homeFiles(), filesBefore);
        } else {
            EXPECT_EQ(TestSupport::readFile(path), c.outsideText);
            EXPECT_NE(note->key(), key);
            EXPECT_EQ(homeFiles().size(), filesBefore.size() + 1);
            EXPECT_TRUE(homeFiles().contains(note->key()));
        }
        finishAndWait(Ending::End);
    }
}

} // namespace
