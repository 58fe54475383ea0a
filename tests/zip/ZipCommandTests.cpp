// What zipcli check, remove and add say about damaged archives and unfit
// operands: each failure is named and ends in exit status 1.
#include "TestSupport.h"
#include "ZipTestArchive.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

using namespace ZipTest;

namespace {

QString zipcli() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../cli/zipcli"); }

struct Outcome {
    bool finished = false;
    int status = -1;
    QString out, err;
};

// The command, given ten seconds to end on its own.
Outcome run(const QStringList& arguments)
{
    QProcess process;
    process.start(zipcli(), arguments);
    Outcome result;
    result.finished = process.waitForFinished(10000);
    if (!result.finished) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QString homePath(const QString& name) { return QDir(TestSupport::home()).filePath(name); }

std::uint32_t crcOf(const QByteArray& data)
{
    return std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

Entry stored(const QByteArray& name, const QByteArray& data) { return Entry{.name = name, .data = data, .crc = crcOf(data)}; }

Entry packed(const QByteArray& name, const QByteArray& data)
{
    return Entry{.name = name, .data = deflated(data), .method = 8, .crc = crcOf(data), .size = data.size()};
}

const QByteArray text = "Groceries: apples, pears, 2 loaves of bread; call the plumber about the kitchen tap.\n";

// One damaged entry: how it is made from a sound one, and the bytes to bend once the archive is built.
struct Damage {
    QByteArray name;
    Entry entry;
    std::function<void(QByteArray& bytes, int local, int central)> bend = {};
};

int dataOffset(const Entry& entry, int local) { return local + 30 + int(entry.name.size() + entry.localExtra.size()); }

// Every byte of each entry's data with one bit flipped, each as an entry of its own.
QList<Damage> bitFlips()
{
    QList<Damage> damages;
    for (const Entry& sound : {stored("stored", text), packed("deflated", text)}) {
        for (int at = 0; at < sound.data.size(); ++at) {
            Entry entry = sound;
            entry.name += "-flip-" + QByteArray::number(at);
            damages.append({entry.name, entry, [entry, at](QByteArray& bytes, int local, int) {
                                bytes[dataOffset(entry, local) + at] ^= char(1 << (at % 8));
                            }});
        }
    }
    return damages;
}

// Sizes that lie in both records: the uncompressed size one more or one less than the data's, and a deflated
// entry whose compressed size leaves its last byte out.
QList<Damage> lyingSizes()
{
    QList<Damage> damages;
    for (const Entry& sound : {stored("stored", text), packed("deflated", text)}) {
        for (const int delta : {1, -1}) {
            Entry entry = sound;
            entry.name += "-size" + QByteArray::number(delta);
            entry.size = text.size() + delta;
            damages.append({entry.name, entry});
        }
    }
    Entry entry = packed("deflated-short", text);
    damages.append({entry.name, entry, [size = std::uint32_t(entry.data.size() - 1)](QByteArray& bytes, int local,
                                                                                      int central) {
                        put32(bytes, local + 18, size);
                        put32(bytes, central + 20, size);
                    }});
    return damages;
}

QByteArray archiveOf(const QList<Damage>& damages)
{
    QList<Entry> entries;
    for (const Damage& damage : damages)
        entries.append(damage.entry);
    Archive archive = build(entries);
    for (qsizetype i = 0; i < damages.size(); ++i) {
        if (damages[i].bend)
            damages[i].bend(archive.bytes, archive.localOffsets[i], archive.centralOffsets[i]);
    }
    return archive.bytes;
}

QString writeArchive(const QString& name, const QByteArray& bytes)
{
    const QString path = homePath(name);
    TestSupport::writeFile(path, bytes);
    return path;
}

} // namespace

TEST(ZipCommand, CheckReadsEveryEntrysDataAndNamesEachDamagedOne)
{
    ASSERT_TRUE(QFile::exists(zipcli())) << "build zipcli first";
    const Damage soundOnes[] = {{"stored", stored("stored", text)}, {"deflated", packed("deflated", text)}};
    struct Case {
        const char* what;
        QList<Damage> damages;
        // A flip inside stored data, or a size that lies, always fails its CRC or size check.
        std::function<bool(const QString&)> certainlyFails;
    };
    const Case cases[] = {
        {"bit flips", bitFlips(), [](const QString& name) { return name.startsWith(u"stored"); }},
        {"lying sizes", lyingSizes(), [](const QString&) { return true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray bytes = archiveOf(QList<Damage>(std::begin(soundOnes), std::end(soundOnes)) + c.damages);
        const Loaded loaded = load(bytes);
        ASSERT_TRUE(loaded.entries);
        const Outcome check = run({QStringLiteral("check"), writeArchive(QStringLiteral("damaged.zip"), bytes)});
        ASSERT_TRUE(check.finished);
        EXPECT_EQ(check.status, 1);
        const QStringList lines = check.out.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), loaded.entries->size());
        int damaged = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString name = QString::fromUtf8(i < 2 ? soundOnes[i].name : c.damages[i - 2].name);
            Error error;
            const bool readable = loaded.entries->at(i)->newData({}, &error).has_value();
            if (i >= 2 && c.certainlyFails(name)) {
                EXPECT_FALSE(readable) << name.toStdString();
            }
            const QString prefix = QString::number(i) + u' ' + name + QStringLiteral(": ");
            if (readable) {
                EXPECT_EQ(lines[i], prefix + QStringLiteral("ok"));
            } else {
                EXPECT_TRUE(lines[i].startsWith(prefix + error.localizedDescription() + QStringLiteral(" (code ")
                                                + QString::number(error.code) + u')'))
                    << lines[i].toStdString();
            }
            damaged += readable ? 0 : 1;
        }
        EXPECT_GE(damaged, c.damages.size() * 3 / 4);
    }

    const Outcome sound = run({QStringLiteral("check"), writeArchive(QStringLiteral("sound.zip"),
                                                                 archiveOf(QList<Damage>(std::begin(soundOnes),
                                                                                         std::end(soundOnes))))});
    EXPECT_EQ(sound.status, 0);
    EXPECT_EQ(sound.out, QStringLiteral("0 stored: ok\n1 deflated: ok\n"));
}

TEST(ZipCommand, CheckVerifiesAnEncryptedArchiveOnlyWithItsPassword)
{
    const QString archive = QDir(QStringLiteral(TEST_DATA_DIR)).filePath(QStringLiteral("7z-aes256-deflated.zip"));
    struct Case {
        QStringList options;
        int status;
        const char* eachLineEnds;
    };
    const Case cases[] = {
        {{QStringLiteral("--password"), QStringLiteral("secret")}, 0, ": ok"},
        {{}, 0, ": ok, data not verified: encrypted and no password given"},
        {{QStringLiteral("--password"), QStringLiteral("wrong")}, 1, "(code 12)"},
    };
    for (const Case& c : cases) {
        const Outcome check = run(QStringList {QStringLiteral("check"), archive} + c.options);
        ASSERT_TRUE(check.finished);
        EXPECT_EQ(check.status, c.status) << c.eachLineEnds;
        const QStringList lines = check.out.split(u'\n', Qt::SkipEmptyParts);
        EXPECT_FALSE(lines.isEmpty());
        for (const QString& line : lines)
            EXPECT_TRUE(line.endsWith(QLatin1String(c.eachLineEnds))) << line.toStdString();
    }
}

TEST(ZipCommand, RemovingAnEntryThatIsNotThereIsAnErrorAndChangesNothing)
{
    const QByteArray bytes = build({stored("one.md", "one"), stored("two.md", "two")}).bytes;
    const QString archive = writeArchive(QStringLiteral("remove.zip"), bytes);
    const Outcome missing = run({QStringLiteral("remove"), archive, QStringLiteral("three.md")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, QStringLiteral("three.md: no such entry\n"));
    EXPECT_EQ(TestSupport::readFile(archive), bytes);

    const Outcome removed = run({QStringLiteral("remove"), archive, QStringLiteral("one.md")});
    EXPECT_EQ(removed.status, 0);
    EXPECT_EQ(run({QStringLiteral("list"), archive}).out.count(u'\n'), 1);
}

TEST(ZipCommand, AddRefusesAtOnceWhatIsNotARegularFile)
{
    const QString fifo = homePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString note = homePath(QStringLiteral("note.md"));
    TestSupport::writeFile(note, "a note");
    const QString linkToFifo = homePath(QStringLiteral("to-pipe"));
    const QString linkToNote = homePath(QStringLiteral("to-note"));
    ASSERT_TRUE(QFile::link(fifo, linkToFifo) && QFile::link(note, linkToNote));
    const QByteArray bytes = build({stored("one.md", "one")}).bytes;
    struct Case {
        QString operand;
        const char* reason;
    };
    const Case cases[] = {
        {fifo, "not a regular file"},
        {linkToFifo, "not a regular file"},
        {TestSupport::home(), "not a regular file"},
        {QStringLiteral("/dev/null"), "not a regular file"},
        {homePath(QStringLiteral("missing.md")), "No such file or directory"},
    };
    for (const Case& c : cases) {
        for (const bool archiveExists : {true, false}) {
            const QString archive = homePath(QStringLiteral("add.zip"));
            QFile::remove(archive);
            if (archiveExists)
                TestSupport::writeFile(archive, bytes);
            // The good file first: nothing of it is written either.
            const Outcome add = run({QStringLiteral("add"), archive, note, c.operand});
            ASSERT_TRUE(add.finished) << c.operand.toStdString();
            EXPECT_EQ(add.status, 1) << c.operand.toStdString();
            EXPECT_EQ(add.err, c.operand + QStringLiteral(": ") + QLatin1String(c.reason) + u'\n');
            EXPECT_EQ(QFile::exists(archive), archiveExists) << c.operand.toStdString();
            if (archiveExists) {
                EXPECT_EQ(TestSupport::readFile(archive), bytes) << c.operand.toStdString();
            }
        }
    }
    const QString archive = writeArchive(QStringLiteral("add.zip"), bytes);
    const Outcome add = run({QStringLiteral("add"), archive, linkToNote});
    EXPECT_EQ(add.status, 0) << add.err.toStdString();
    EXPECT_EQ(run({QStringLiteral("cat"), archive, linkToNote}).out, QStringLiteral("a note"));
}
