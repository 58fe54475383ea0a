// Hostile archives, each made here from its recipe, extracted both by the
// library and by zipcli: what lands in the target must be the same and sound.
#include "TestSupport.h"
#include "ZPExtraction.h"
#include "ZipTestArchive.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

using namespace ZipTest;

namespace {

std::uint32_t crcOf(const QByteArray& data)
{
    return std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

Entry stored(const QByteArray& name, const QByteArray& data, std::uint32_t mode = 0100644)
{
    return Entry{.name = name, .data = data, .externalAttributes = mode << 16, .crc = crcOf(data)};
}

Entry packed(const QByteArray& name, const QByteArray& data)
{
    return Entry{.name = name, .data = deflated(data), .method = 8, .crc = crcOf(data), .size = data.size()};
}

Entry linkEntry(const QByteArray& name, const QByteArray& target) { return stored(name, target, 0120777); }

// Count central records that all point at the first local header, named
// name(i); the local headers of the others stay unused.
QByteArray sharingOneHeader(int count, const std::function<QByteArray(int)>& name)
{
    QList<Entry> entries;
    for (int i = 0; i < count; ++i)
        entries.append(stored(name(i), "hello"));
    Archive archive = build(entries);
    for (const int central : archive.centralOffsets)
        put32(archive.bytes, central + 42, std::uint32_t(archive.localOffsets.first()));
    return archive.bytes;
}

using Names = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;

Names numbered(const QString& pattern, int from, int to)
{
    Names names;
    for (int i = from; i < to; ++i)
        names.push_back(pattern.arg(i, 2, 10, QChar(u'0')).toStdString());
    return names;
}

// Every file and link below the folder: a file as its mode in octal and its
// bytes, a link as "-> " and its target; folders are left out.
Tree tree(const QString& folder)
{
    Tree found;
    std::error_code error;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder.toStdString(), error)) {
        const std::string path = item.path().lexically_relative(folder.toStdString()).string();
        struct stat info {};
        ::lstat(item.path().c_str(), &info);
        if (S_ISLNK(info.st_mode))
            found[path] = "-> " + std::filesystem::read_symlink(item.path()).string();
        else if (S_ISREG(info.st_mode))
            found[path] = QString::number(info.st_mode & 07777, 8).toStdString() + ' '
                + TestSupport::readFile(QString::fromStdString(item.path().string())).toStdString();
    }
    return found;
}

QString zipcli() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../cli/zipcli"); }

struct Outcome {
    Tree tree;
    Names refused;
    bool failed = false;
};

Outcome throughLibrary(const QByteArray& archive, const QString& target, std::optional<std::uint64_t> limit)
{
    Outcome outcome;
    const Loaded loaded = load(archive);
    const auto result = loaded.entries
        ? ZPExtraction::extract(*loaded.entries, target, {.password = {}, .limit = limit})
        : std::nullopt;
    for (const auto& refusal : result ? result->refusals : QList<ZPExtraction::Refusal>())
        outcome.refused.push_back(refusal.name.toStdString());
    outcome.failed = !result || !result->refusals.isEmpty();
    outcome.tree = tree(target);
    return outcome;
}

Outcome throughCommand(const QByteArray& archive, const QString& target, std::optional<std::uint64_t> limit)
{
    const QString path = target + QStringLiteral(".zip");
    TestSupport::writeFile(path, archive);
    QStringList arguments = {QStringLiteral("extract"), path, target};
    if (limit)
        arguments << QStringLiteral("--limit") << QString::number(*limit);
    QProcess process;
    process.start(zipcli(), arguments);
    Outcome outcome;
    if (!process.waitForFinished(60000))
        return outcome;
    // One line per refused entry: "NAME: refused, REASON".
    for (const QString& line : QString::fromUtf8(process.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.contains(QStringLiteral(": refused, ")))
            outcome.refused.push_back(line.section(QStringLiteral(": refused, "), 0, 0).toStdString());
    }
    outcome.failed = process.exitCode() != 0;
    outcome.tree = tree(target);
    return outcome;
}

// Writes of a file past this size fail as on a full disk, in this process
// and in the programs it starts, for the life of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::optional<rlim_t> size)
    {
        if (!size)
            return;
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = *size;
        setrlimit(RLIMIT_FSIZE, &limited);
        m_set = true;
    }
    ~FileSizeLimit()
    {
        if (!m_set)
            return;
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    bool m_set = false;
    rlimit m_old{};
    void (*m_handler)(int) = nullptr;
};

} // namespace

TEST(ZipExtraction, HostileArchivesWriteOnlyTheirSoundEntries)
{
    ASSERT_TRUE(QFile::exists(zipcli())) << "build zipcli first";
    const mode_t oldMask = ::umask(027);
    const QByteArray zeros(1 << 20, '\0');
    Entry lyingStored = stored("lying.txt", "hello");
    lyingStored.size = 100;
    Entry lyingPacked = packed("lying.bin", "hello");
    lyingPacked.size = 0xFFFFFFF0;
    Entry shortPacked = packed("short.bin", "hello world");
    shortPacked.size = 5;
    Entry dosFile = stored("dos.txt", "hello");
    dosFile.host = 0;
    dosFile.externalAttributes = 0;
    QByteArray truncated = build({stored("note.txt", "hello")}).bytes;
    truncated.chop(10);

    const struct {
        const char* name;
        QByteArray archive;
        Tree written;
        Names refused;
        std::optional<std::uint64_t> limit = std::nullopt;
        std::optional<rlim_t> fileSizeLimit = std::nullopt;
    } cases[] = {
        {"records naming others share one header",
         sharingOneHeader(50, [](int i) { return QByteArray("file") + QByteArray::number(i).rightJustified(2, '0'); }),
         {{"file00", "640 hello"}}, numbered(QStringLiteral("file%1"), 1, 50)},
        {"records of one name share one header", sharingOneHeader(50, [](int) { return QByteArray("same"); }),
         {{"same", "640 hello"}}, Names(49, "same")},
        {"names leading outside",
         build({linkEntry("inner", "sub"), stored("../up", "x"), stored("/abs", "x"), stored("a/..", "x"),
                stored("//root", "x"), stored("inner/through", "x"), stored("sub/kept", "hello")})
             .bytes,
         {{"inner", "-> sub"}, {"sub/kept", "640 hello"}},
         {"../up", "/abs", "a/..", "//root", "inner/through"}},
        {"sizes and CRCs that lie",
         build({lyingStored, lyingPacked, shortPacked, Entry{.name = "crc.txt", .crc = 1}, stored("good", "hello")})
             .bytes,
         {{"good", "640 hello"}},
         {"lying.txt", "lying.bin", "short.bin", "crc.txt"}},
        {"modes", build({stored("setuid", "hello", 0106777), stored("shared", "hello", 0100666),
                         stored("private", "hello", 0100400), dosFile})
                      .bytes,
         {{"setuid", "750 hello"}, {"shared", "640 hello"}, {"private", "400 hello"}, {"dos.txt", "640 hello"}},
         {}},
        {"links",
         build({stored("note.txt", "hello"), linkEntry("docs/up", "../note.txt"), linkEntry("here", "./note.txt"),
                linkEntry("abs", "/etc/passwd"), linkEntry("climb", "../outside"), linkEntry("docs/climb", "../../outside"),
                linkEntry("back", "docs/../.."), linkEntry("sneak", "docs/.."), linkEntry("empty", "")})
             .bytes,
         {{"note.txt", "640 hello"}, {"docs/up", "-> ../note.txt"}, {"here", "-> ./note.txt"}},
         {"abs", "climb", "docs/climb", "back", "sneak", "empty"}},
        {"declared sizes past the limit",
         build({packed("one", zeros), packed("two", zeros), packed("three", zeros), stored("small", "hello")}).bytes,
         {{"one", "640 " + zeros.toStdString()}, {"two", "640 " + zeros.toStdString()},
          {"small", "640 hello"}},
         {"three"},
         2 * zeros.size() + 5 + 1},
        {"a write failing midway",
         build({packed("bomb", zeros.repeated(8)), stored("after", "hello")}).bytes,
         {{"after", "640 hello"}},
         {"bomb"},
         std::nullopt,
         rlim_t(zeros.size())},
        {"truncated", truncated, {}, {}},
        {"names as long as a name may be",
         build({stored(QByteArray(255, 'n'), "hello"), stored("sub/" + QByteArray(247, 'm'), "hello")}).bytes,
         {{std::string(255, 'n'), "640 hello"}, {"sub/" + std::string(247, 'm'), "640 hello"}},
         {}},
        {"names of an older extraction's temporaries",
         build({stored(".notes.txt.partial", "first"), stored("notes.txt", "second"), stored(".here.partial", "third"),
                linkEntry("here", "notes.txt")})
             .bytes,
         {{".notes.txt.partial", "640 first"},
          {"notes.txt", "640 second"},
          {".here.partial", "640 third"},
          {"here", "-> notes.txt"}},
         {}},
    };
    const QDir home(TestSupport::home());
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = home.filePath(QStringLiteral("extract%1").arg(run++));
        FileSizeLimit fileSizeLimit(c.fileSizeLimit);
        for (const Outcome& result : {throughLibrary(c.archive, target + QStringLiteral("-library"), c.limit),
                                  throughCommand(c.archive, target + QStringLiteral("-zipcli"), c.limit)}) {
            EXPECT_EQ(result.tree, c.written);
            EXPECT_EQ(result.refused, c.refused);
            EXPECT_EQ(result.failed, !c.refused.empty() || c.written.empty());
        }
    }
    ::umask(oldMask);
    // Nothing escaped the targets.
    EXPECT_EQ(home.entryList({QStringLiteral("up"), QStringLiteral("outside")}), QStringList());
    EXPECT_FALSE(QFile::exists(QStringLiteral("/abs")));
}

TEST(ZipExtraction, CommandSaysWhyTheOverlappingRecordsAreRefused)
{
    const QString path = QDir(TestSupport::home()).filePath(QStringLiteral("overlap.zip"));
    TestSupport::writeFile(path, sharingOneHeader(3, [](int) { return QByteArray("same"); }));
    QProcess process;
    process.start(zipcli(), {QStringLiteral("extract"), path, path + QStringLiteral(".d")});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()),
              QStringLiteral("same: refused, its data overlaps entry 0's (code 2)\n").repeated(2));
}

TEST(ZipExtraction, CommandRefusesAnArchiveWithMoreEntriesThanItReads)
{
    const QString path = QDir(TestSupport::home()).filePath(QStringLiteral("many.zip"));
    // Past 65,535 entries Python's writer keeps the count in ZIP64 records.
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, zipfile\n"
                                 "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                 "    for i in range(70000): z.writestr('f%05d' % i, '')"),
                  path});
    ASSERT_TRUE(python.waitForFinished(60000) && python.exitCode() == 0) << python.readAllStandardError().data();
    for (const QStringList& arguments : {QStringList{QStringLiteral("list"), path},
                                         QStringList{QStringLiteral("check"), path},
                                         QStringList{QStringLiteral("extract"), path, path + QStringLiteral(".d")}}) {
        SCOPED_TRACE(arguments.first().toStdString());
        QProcess process;
        process.start(zipcli(), arguments);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 1);
        EXPECT_EQ(process.readAllStandardOutput(), QByteArray());
        EXPECT_TRUE(process.readAllStandardError().contains("ZIP64"));
    }
    EXPECT_EQ(tree(path + QStringLiteral(".d")), Tree());
}
