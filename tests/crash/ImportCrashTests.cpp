// A child process takes a sync folder of a few hundred documents in as notes
// new here, and is killed with SIGKILL at a random moment: inside the turns
// that write their texts ahead, move them into place and link them. A fresh
// process on the same folders then starts as the application does (the
// start-up rebuild and tidy, then the import again), and every document must
// be a note holding exactly its text, linked, with no temporary left and every
// cache in line with the texts. 24 trials by default.
#include "CrashTrial.h"

#include "../store/EventJournal.h"
#include "../store/LogCapture.h"
#include "../store/StoreConsistency.h"

#include "Cloud/FolderAppleCloud.h"
#include "Cloud/LinkFiles.h"
#include "CloudSetup.h"
#include "Core.h"
#include "OfflineCKCloud.h"
#include "TestSupport.h"
#include "UserDefaults.h"
#include "files/AtomicFile.h"
#include "files/FileTimes.h"

#include <QDateTime>
#include <QDir>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <mutex>

namespace {

constexpr int Documents = 300;
// Seconds a child waits for a whole pass over the folder.
constexpr double PassTimeout = 120;

const QStringList Words{"plan", "milk", "river", "stone", "#home", "#work", "#URGENT", "@anna", "list", "- item"};

struct Document {
    int storage;
    QString key;
    QByteArray text;
};

// Every fifth document is archived; the texts carry tags, so tag links are made too.
Document document(int i)
{
    QString text = QStringLiteral("Import %1\n").arg(i);
    QRandomGenerator words{uint32_t(i)};
    for (int n = int(words.bounded(1, 60)); n > 0; --n)
        text += Words[int(words.bounded(Words.size()))] + (n % 10 == 0 ? u'\n' : u' ');
    return {i % 5 == 4 ? NoteStorageArchive : NoteStorageInbox, QStringLiteral("Import %1.txt").arg(i), text.toUtf8()};
}

QString documentPath(const QString& store, const Document& d)
{
    return store + QStringLiteral("/Sync/Documents/") + Note::resourceNameForStorage(d.storage) + u'/' + d.key;
}

// Dated in the past, each a second apart, as another computer left them.
void writeDocuments(const QString& store)
{
    const int64_t first = QDateTime::currentSecsSinceEpoch() - 2 * Documents;
    for (int i = 0; i < Documents; ++i) {
        const Document d = document(i);
        TestSupport::writeFile(documentPath(store, d), d.text);
        ASSERT_TRUE(FileTimes::setModificationTime(documentPath(store, d), {first + i, 0}));
    }
}

// The shared Core over the store's folders, with the sync folder's cloud.
FolderAppleCloud& configureCore(const QString& store)
{
    static UserDefaults defaults(store + QStringLiteral("/defaults.ini"));
    static const auto cloud = std::make_shared<FolderAppleCloud>(std::make_shared<OfflineCKCloud>(), defaults);
    Core::Configuration configuration;
    configuration.documentDirectory = store + QStringLiteral("/Documents");
    configuration.cachesDirectory = store + QStringLiteral("/Caches");
    configuration.defaults = &defaults;
    configuration.makeAppleCloud = [] { return cloud; };
    EXPECT_TRUE(Core::configure(configuration));
    Core::shared();
    return *cloud;
}

// The start of the application: the rebuild and tidy queued, then the cloud activated.
void start()
{
    Core::shared().buildTagLinkAndIndexFiles();
    CloudSetup::activate(Core::shared());
}

// --- The child that imports until it is killed: a journal line once the
// query starts, then one for each text written ahead and each folder flushed
// (the kill then lands before the texts take their names, or before they are
// linked), and one for each note taken in.

void work(const QString& store)
{
    writeDocuments(store);
    FolderAppleCloud& cloud = configureCore(store);
    ASSERT_TRUE(CloudSetup::setDriveFolder(cloud, store + QStringLiteral("/Sync")));
    auto events = std::make_shared<EventJournal>();
    std::mutex mutex;
    qsizetype imported = 0;
    events->onEvent = [&] {
        std::lock_guard lock(mutex);
        for (const qsizetype now = events->lines().count(QStringLiteral("update")); imported < now; ++imported)
            CrashTrial::journal(QStringLiteral("imported"));
    };
    Core::shared().addNoteStorageListener(events);
    AtomicFile::setFlushWatch([](const QString& path) { CrashTrial::journal(QStringLiteral("flushed ") + path); });
    CrashTrial::journal(QStringLiteral("query"));
    start();
    const bool done = DispatchQueue::runMainUntil(
        [&] {
            std::lock_guard lock(mutex);
            return imported == Documents;
        },
        PassTimeout);
    Dispatch::waitUntilIdle();
    Core::shared().removeNoteStorageListener(events.get());
    EXPECT_TRUE(done) << "the import never ended";
}

// A date as the failure message shows it.
QString stamp(const std::optional<FileTime>& date)
{
    return date ? QStringLiteral("%1.%2").arg(date->seconds).arg(date->nanoseconds, 9, 10, QLatin1Char('0'))
                : QStringLiteral("none");
}

// --- The restarted process: starts, lets the pass end, then judges.

void verify(const QString& store)
{
    const auto log = LogCapture::install();
    configureCore(store);
    start();
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] { return log->lines().contains(QStringLiteral("apcloud:afterUpdate enableUpdates")); }, PassTimeout))
        << "the pass never ended";
    Dispatch::waitUntilIdle();
    Core::shared().fileQueue()->sync([] {});
    log->uninstall();

    // Rows, headers, markers, tag links and meta files; no temporary anywhere
    // in the notes' folders. The sync's own links are judged below, by document.
    QStringList disagreements = storeDisagreements();
    const QLatin1String stray("stray link ");
    disagreements.removeIf([&](const QString& line) {
        const QString link = line.mid(stray.size());
        return line.startsWith(stray) && !link.startsWith(Note::linkDirectoryForTag(NoteTagHashtag))
            && !link.startsWith(Note::linkDirectoryForTag(NoteTagMention));
    });
    EXPECT_EQ(disagreements, QStringList());
    qsizetype notes = 0;
    for (const int storage : {NoteStorageInbox, NoteStorageArchive})
        notes += QDir(Note::documentDirectoryForStorage(storage)).entryList(QDir::Files).size();
    EXPECT_EQ(notes, Documents) << "a note came twice, or a fork was made";
    for (int i = 0; i < Documents; ++i) {
        const Document d = document(i);
        EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(d.key, d.storage)), d.text) << qPrintable(d.key);
        EXPECT_EQ(TestSupport::readFile(documentPath(store, d)), d.text) << "the document of " << qPrintable(d.key);
        EXPECT_EQ(stamp(LinkFiles::modificationDate(d.key, NoteServiceCloud, d.storage)),
                  stamp(FileTimes::modificationTime(documentPath(store, d))))
            << "the link of " << qPrintable(d.key);
    }
}

// One trial: killed a few milliseconds after a random journal line, from the
// query's start to a little past the import's end (two lines a note, and a
// folder flush for every eight or so).
QString runTrial(uint32_t seed, const QString& store)
{
    QRandomGenerator random(seed);
    const int killAfter = int(random.bounded(1, 2 * Documents + Documents / 4));
    return CrashTrial::run("ImportCrash.DISABLED_Child", seed, store, killAfter, int(random.bounded(5000)));
}

} // namespace

// Run only by the test below, in a process of its own.
TEST(ImportCrash, DISABLED_Child)
{
    const QString store = CrashTrial::store();
    ASSERT_FALSE(CrashTrial::role().isEmpty() || store.isEmpty());
    if (CrashTrial::role() == QLatin1String("work"))
        work(store);
    else
        verify(store);
}

TEST(ImportCrash, KilledWhileTakingInASyncFolderLosesNothing)
{
    const QString failures = CrashTrial::runTrials(QStringLiteral("import-crash"), 24, runTrial);
    EXPECT_TRUE(failures.isEmpty()) << qPrintable(failures);
}
