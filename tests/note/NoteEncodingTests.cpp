#include "NoteTestSupport.h"

#include "TrashedCopies.h"

#include "Store/FolderListing.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

using NoteStoreEncoding = NoteStoreTest;

bool write(const NotePtr& note)
{
    bool written = false;
    note->writeText([&](bool ok) { written = ok; });
    return written;
}

// A note read through anything but UTF-8 keeps its original bytes in the
// Trash before its first rewrite (once); one with stray invalid bytes is not
// written at all until its text is accepted as read.
TEST_F(NoteStoreEncoding, ANoteReadThroughAFallbackKeepsItsOriginalBytes)
{
    const struct {
        const char* name;
        QByteArray bytes;
        QString text;
        bool caution;
        int copies;
    } cases[] = {
        {"UTF-8", "caf\xC3\xA9 plan", u"café plan"_qs, false, 0},
        {"stray byte", "caf\xC3\xA9 na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC \xFF", u"café naïve 日本 \uFFFD"_qs, true, 1},
        {"Windows-1252", "caf\xE9 cr\xE8me", u"café crème"_qs, false, 1},
        {"UTF-16 with mark", QByteArray("\xFF\xFE" "h\0\xE9\0", 6), u"hé"_qs, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString key = QString::fromUtf8(c.name) + QStringLiteral(".txt");
        const QString path = Note::documentFileForKey(key, NoteStorageInbox);
        TestSupport::writeFile(path, c.bytes);
        const auto note = std::make_shared<Note>(key, NoteStorageInbox);
        ASSERT_TRUE(note->restoreText());
        EXPECT_EQ(note->text(), c.text);
        EXPECT_EQ(!note->readCaution().isEmpty(), c.caution);
        note->setText(c.text + QStringLiteral(" edited"));
        if (c.caution) {
            EXPECT_FALSE(write(note));
            EXPECT_EQ(TestSupport::readFile(path), c.bytes);
            note->acceptReadText();
        }
        ASSERT_TRUE(write(note));
        EXPECT_EQ(TestSupport::readFile(path), (c.text + QStringLiteral(" edited")).toUtf8());
        EXPECT_EQ(trashedCopies(c.bytes), c.copies);
        note->setText(c.text + QStringLiteral(" again"));
        ASSERT_TRUE(write(note));
        EXPECT_EQ(trashedCopies(c.bytes), c.copies) << "kept once";
    }
}

// A file whose name is not valid UTF-8 is listed with U+FFFD in place of its bad bytes, a name that opens
// nothing: the note is read-only with that reason, and no write makes a second file under that name. A
// name that spells U+FFFD in UTF-8 opens as any other, and a missing note stays one to write anew.
TEST_F(NoteStoreEncoding, ANoteWhoseFileNameIsNotUtf8IsNeverWrittenUnderAnotherName)
{
    const QString folder = Note::documentDirectoryForStorage(NoteStorageInbox);
    QDir().mkpath(folder);
    const QByteArray original = "text of the note";
    const struct {
        const char* name;
        QByteArray fileName;
        bool readable;
    } cases[] = {
        {"invalid bytes", "bad\xFF\xFEname.txt", false},
        {"U+FFFD spelled in UTF-8", "fine\xEF\xBF\xBDname.txt", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray path = QFile::encodeName(folder) + "/" + c.fileName;
        {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::write(fd, original.constData(), size_t(original.size())), ssize_t(original.size()));
            ::close(fd);
        }
        QStringList listed;
        ASSERT_TRUE(listFolderNames(folder, &listed));
        ASSERT_EQ(listed.size(), 1);
        const auto note = std::make_shared<Note>(listed.first(), NoteStorageInbox);
        EXPECT_EQ(note->restoreText(), c.readable);
        EXPECT_EQ(note->readFailure().contains(QStringLiteral("name is not valid UTF-8")), !c.readable)
            << qPrintable(note->readFailure());
        note->setText(QStringLiteral("edited"));
        EXPECT_EQ(write(note), c.readable);
        QStringList after;
        ASSERT_TRUE(listFolderNames(folder, &after));
        EXPECT_EQ(after, listed) << "no file beside it";
        QByteArray onDisk(64, '\0');
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        onDisk.resize(::read(fd, onDisk.data(), size_t(onDisk.size())));
        ::close(fd);
        EXPECT_EQ(onDisk, c.readable ? QByteArray("edited") : original);
        ::unlink(path.constData());
    }
    const auto missing = std::make_shared<Note>(QStringLiteral("gone\uFFFD.txt"), NoteStorageInbox);
    EXPECT_FALSE(missing->restoreText());
    EXPECT_TRUE(missing->readFailure().isEmpty());
}

// The text is read whole whatever its size: empty, around the size of one
// read and far past it, and a file that is no text file at all fails.
TEST_F(NoteStoreEncoding, ANoteIsReadWholeAtEverySize)
{
    for (const qsizetype size : {qsizetype(0), qsizetype(1), qsizetype(4095), qsizetype(4096), qsizetype(4097),
                                 qsizetype(65536), qsizetype(300001)}) {
        SCOPED_TRACE(size);
        QByteArray bytes;
        for (qsizetype i = 0; bytes.size() < size; ++i)
            bytes += "line " + QByteArray::number(i) + (i % 7 ? " words\n" : " #tag\n");
        bytes.truncate(size);
        const QString key = QStringLiteral("Size %1.txt").arg(size);
        TestSupport::writeFile(Note::documentFileForKey(key, NoteStorageInbox), bytes);
        const auto note = std::make_shared<Note>(key, NoteStorageInbox);
        ASSERT_TRUE(note->restoreText());
        EXPECT_EQ(note->text().toUtf8(), bytes);
    }
    const QString folder = QStringLiteral("A folder.txt");
    QDir().mkpath(Note::documentFileForKey(folder, NoteStorageInbox));
    const auto note = std::make_shared<Note>(folder, NoteStorageInbox);
    EXPECT_FALSE(note->restoreText());
    EXPECT_TRUE(note->text().isEmpty());
}

// A text file past the size limit is read no further than its head, cut
// before a character the cut would split; the note keeps that head as its
// text, says why it is read-only, and is never written over. Other readers
// refuse the file.
TEST_F(NoteStoreEncoding, ANoteTooLargeToReadWholeGivesItsHeadAndIsNeverWritten)
{
    const struct {
        const char* name;
        QByteArray line;
        qint64 size;
    } cases[] = {
        {"one byte past", "plain words\n", Note::MaximumTextFileSize + 1},
        {"three-byte characters", "\xE2\x82\xAC", Note::MaximumTextFileSize + 4096},
        {"four-byte characters", "\xF0\x9F\x93\x9D", 3 * Note::MaximumTextFileSize},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = "Huge log\n";
        bytes.reserve(c.size);
        while (bytes.size() < c.size)
            bytes += c.line;
        bytes.truncate(c.size);
        const QString key = QString::fromUtf8(c.name) + QStringLiteral(".txt");
        const QString path = Note::documentFileForKey(key, NoteStorageInbox);
        TestSupport::writeFile(path, bytes);

        const auto note = std::make_shared<Note>(key, NoteStorageInbox);
        EXPECT_FALSE(note->restoreText());
        EXPECT_TRUE(note->restoreTextOrHead());
        const QByteArray head = note->text().toUtf8();
        EXPECT_LE(head.size(), Note::HeadOfLargeFile);
        EXPECT_GT(head.size(), Note::HeadOfLargeFile - c.line.size());
        EXPECT_TRUE(bytes.startsWith(head)) << "cut inside a character";
        EXPECT_TRUE(note->readCaution().isEmpty());
        EXPECT_TRUE(note->readFailure().contains(QStringLiteral("too large to edit"))) << qPrintable(note->readFailure());

        note->setText(note->text() + QStringLiteral(" edited"));
        EXPECT_FALSE(write(note));
        EXPECT_EQ(QFileInfo(path).size(), c.size);

        Error error;
        EXPECT_TRUE(Note::newTextFromURL(QUrl::fromLocalFile(path), &error).isNull());
        EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral("larger than 16 MB")))
            << qPrintable(error.localizedDescription());
        EXPECT_EQ(Note::noteWithRemoteURL(QUrl::fromLocalFile(path)), nullptr);
        QFile::remove(path);
    }
}

} // namespace
