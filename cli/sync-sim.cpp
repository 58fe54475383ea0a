// sync-sim [--home DIR] [--verbose]: one computer's notes with cloud sync on,
// headless, driven by commands on stdin, one a line; each answers one line
// beginning with "ok" or "error". Two of them over one sync folder and one
// record store stand for two computers. Texts are the rest of the line, with
// "\n" for a line break. Storages are "inbox" and "archive".
//   folder PATH | store SQLITE-PATH-OR-CONNECTION | offline | online | pushnote on|off
//   watch on|off   off: the folder is looked at only by "pass" and "online", never in between
//   new TEXT | edit STORAGE KEY TEXT | rename STORAGE KEY | move STORAGE KEY
//   edit-over STORAGE KEY BASE TEXT   an edit made over BASE (percent-encoded), as a window shows
//                                     a note: a note holding another text by the save keeps it, and
//                                     the edit becomes a note of its own beside it (so does "edit"'s,
//                                     made over what the note holds when the command comes)
//   crash STORAGE KEY TEXT   saves the edit on this computer only, then dies at once (no answer)
//   delete STORAGE KEY | pass | fetch | wait | clock SECONDS | status | dump
//   await SECONDS STORAGE KEY TEXT   answers "ok <ms>" once the note holds TEXT
// A key with spaces is written percent-encoded ("My%20plan.txt").
// A store is a PostgreSQL connection string (key=value pairs or a postgres:// or
// postgresql:// URI) or a SQLite file: an absolute path or one under the data folder.
#include "CloudSetup.h"
#include "Core.h"

#include "Cloud/FolderAppleCloud.h"
#include "Cloud/StoreCKCloud.h"
#include "Cloud/SyncConflict.h"

#include "Clock.h"
#include "Container.h"
#include "Folders.h"
#include "PushCenter.h"
#include "UserDefaults.h"
#include "VGLog.h"
#include "VGLogMessage.h"
#include "VGLogger.h"
#include "files/Trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <condition_variable>
#include <cstdlib>
#include <cstdio>
#include <future>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using Reply = std::function<void(const QString& line)>;

// Counts finished drive passes, so "pass" can wait for the one it started;
// echoes every message with --verbose.
class PassWatch : public VGLogger {
public:
    explicit PassWatch(bool echo) : echo_(echo) {}

    void logMessage(const VGLogMessage& message) override
    {
        if (echo_)
            std::fprintf(stderr, "%s\n", qUtf8Printable(message.logMsg()));
        if (message.logMsg() != QLatin1String("apcloud:afterUpdate enableUpdates"))
            return;
        std::lock_guard lock(mutex_);
        ++passes_;
        changed_.notify_all();
    }
    VGLogFormatterPtr logFormatter() override { return nullptr; }
    void setLogFormatter(VGLogFormatterPtr) override {}

    int passes()
    {
        VGLog::flushLog();
        std::lock_guard lock(mutex_);
        return passes_;
    }
    bool waitBeyond(int passes, double seconds)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return passes_ > passes; });
    }

private:
    bool echo_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int passes_ = 0;
};

// Pushes of the record store reach the cloud as the application's delegate passes them.
class PushRelay : public PushCenterDelegate {
public:
    void didReceive(const QVariantMap& dictionary) override
    {
        Core::shared().appleCloud()->handleRemoteNotification(dictionary);
    }
};

FolderAppleCloud& driveCloud()
{
    return static_cast<FolderAppleCloud&>(*Core::shared().appleCloud());
}

StoreCKCloud& relay()
{
    return static_cast<StoreCKCloud&>(*Core::shared().appleCloud()->ckCloud());
}

// One line, as every answer is: libpq's messages run over several.
QString errorLine(const Error& error)
{
    return QStringLiteral("error ") + error.localizedDescription().simplified();
}

// "ok" once every queue of the cloud and the notes has run what was asked before.
void answerWhenDrained(const Reply& reply, const QString& line = QStringLiteral("ok"))
{
    Core::shared().appleCloud()->wait([reply, line] { reply(line); });
}

QString keyWord(const QString& word)
{
    return QUrl::fromPercentEncoding(word.toUtf8());
}

NotePtr existingNote(const QString& storageName, const QString& word)
{
    const QString key = keyWord(word);
    const int storage = Note::storageKeyForSearchName(storageName);
    if (storage == 0 || !QFileInfo::exists(Note::documentFileForKey(key, storage)))
        return nullptr;
    auto note = std::make_shared<Note>(key, storage);
    note->restoreText();
    note->restoreMeta();
    return note;
}

// The edit as a note of its own beside the note, answered once it is on disk.
void keepAsFork(const NotePtr& note, const Reply& reply)
{
    const QString fork = SyncConflict::forkKey(note->key(), note->text());
    SyncConflict::keepAsFork(note->key(), note->storage(), note->text(), note->updatedOn(), note->updatedOn());
    Core::shared().appleCloud()->wait([fork, storage = note->storage(), reply] {
        reply(QFileInfo::exists(Note::documentFileForKey(fork, storage))
                  ? QStringLiteral("ok ") + fork
                  : QStringLiteral("error the edit was not kept as %1").arg(fork));
    });
}

// The local commit, the drive save and, at once, the record save the editor's timer would make.
// A text that came in since the base was read is not written over: as the
// editor would, the edit then becomes a note of its own beside it.
void commit(const NotePtr& note, const QString& text, const QString& base, const Reply& reply)
{
    note->setText(text);
    note->setUpdatedOnForChange(Clock::now());
    Core::shared().fileQueue()->async([note, base, reply] {
        Note now(note->key(), note->storage());
        if (!base.isNull() && now.restoreText() && now.text() != base)
            return keepAsFork(note, reply);
        note->_commitLocalNote([note, reply](bool ok) {
            if (!ok)
                return reply(QStringLiteral("error the note was not saved: ") + note->key());
            if (!Core::shared().enabledAppleCloud())
                return answerWhenDrained(reply, QStringLiteral("ok ") + note->key());
            Core::shared().appleCloud()->commitNote(note, [note, reply](const QDateTime&, const Error& error) {
                if (!error.isNull() && error.code != FolderAppleCloud::StoodAsideCode)
                    return reply(QStringLiteral("error the sync folder did not take %1: %2")
                                     .arg(note->key(), error.localizedDescription()));
                Core::shared().appleCloud()->ckCloud()->saveNote(
                    note, [note, reply](bool) { answerWhenDrained(reply, QStringLiteral("ok ") + note->key()); });
            });
        });
    });
}

// Off: the folder watch stops after each look, so changes come in only when asked for.
bool watching = true;

void stopWatchingUnlessOn()
{
    if (!watching)
        DispatchQueue::main()->async([] { Core::shared().appleCloud()->stopQuery(); });
}

void setOnline(bool on, const Reply& reply)
{
    Core& core = Core::shared();
    UserDefaults::standard().setBool(on, QStringLiteral("icloud"));
    UserDefaults::standard().synchronize();
    core.setEnabledAppleCloud(on);
    if (on)
        return CloudSetup::activate(core, [reply](bool) {
            stopWatchingUnlessOn();
            answerWhenDrained(reply);
        });
    core.appleCloud()->stopQuery();
    answerWhenDrained(reply);
}

void setPush(bool on, const Reply& reply)
{
    UserDefaults::standard().setBool(on, QStringLiteral("pushnote"));
    UserDefaults::standard().synchronize();
    Core::shared().setEnabledPushNotification(on);
    const auto answer = [reply](const Error& error) { error.isNull() ? reply(QStringLiteral("ok")) : reply(errorLine(error)); };
    if (on)
        Core::shared().appleCloud()->subscribeRemoteNotification(answer);
    else
        Core::shared().appleCloud()->unsubscribeRemoteNotification(answer);
}

// Made by the first call, which says whether it echoes.
PassWatch& passWatch(bool echo = false)
{
    static const auto watch = std::make_shared<PassWatch>(echo);
    return *watch;
}

void runPass(const Reply& reply)
{
    PassWatch& watch = passWatch();
    if (!driveCloud().quickCloudCheck())
        return reply(QStringLiteral("error the sync folder is off"));
    const int before = watch.passes();
    driveCloud().stopQuery();
    driveCloud().startQuery();
    if (driveCloud().state() == FolderAppleCloud::Idle)
        return reply(QStringLiteral("error the sync folder has no account"));
    DispatchQueue::global()->async([&watch, before, reply] {
        if (!watch.waitBeyond(before, 20))
            return reply(QStringLiteral("error the pass did not finish"));
        stopWatchingUnlessOn();
        answerWhenDrained(reply);
    });
}

QJsonObject noteEntry(const QString& key, int storage)
{
    Note note(key, storage);
    note.restoreText();
    return {{QStringLiteral("key"), key},
            {QStringLiteral("storage"), Note::searchNameForStorage(storage)},
            {QStringLiteral("text"), note.text()}};
}

QString dump()
{
    QJsonArray notes;
    for (const int storage : {NoteStorageInbox, NoteStorageArchive})
        for (const QString& key : QDir(Note::documentDirectoryForStorage(storage)).entryList(QDir::Files, QDir::Name))
            notes.append(noteEntry(key, storage));
    QJsonArray trash;
    QJsonArray trashTexts;
    const QDir trashed(Trash::folder() + QStringLiteral("/files"));
    for (const QString& name : trashed.entryList(QDir::Files, QDir::Name)) {
        trash.append(name);
        trashTexts.append(Note::newTextFromURL(QUrl::fromLocalFile(trashed.filePath(name))));
    }
    const QJsonObject all{{QStringLiteral("notes"), notes}, {QStringLiteral("trash"), trash},
                          {QStringLiteral("trashTexts"), trashTexts}};
    return QStringLiteral("ok ") + QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Compact));
}

// Polls the note file until it holds the text; the answer gives the milliseconds waited.
void await(const QStringList& words, const QString& text, const Reply& reply)
{
    const double limit = words.value(1).toDouble();
    const QString path = Note::documentFileForKey(keyWord(words.value(3)), Note::storageKeyForSearchName(words.value(2)));
    DispatchQueue::global()->async([path, text, limit, reply] {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < limit * 1000) {
            if (Note::newTextFromURL(QUrl::fromLocalFile(path)) == text)
                return reply(QStringLiteral("ok %1").arg(waited.elapsed()));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        reply(QStringLiteral("error timeout"));
    });
}

// The text after the first `count` words.
QString textAfter(const QString& line, int count)
{
    qsizetype at = 0;
    for (int i = 0; i < count && at >= 0; ++i)
        at = line.indexOf(QLatin1Char(' '), at + 1);
    QString text = at < 0 ? QString() : line.mid(at + 1);
    return text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
}

// One command line: its words, and the answer to give once.
struct Command {
    QString line;
    QStringList words;
    Reply reply;

    // The text after the first `count` words.
    QString textAfter(int count) const { return ::textAfter(line, count); }
    void answer(const Error& error, const QString& ok = QStringLiteral("ok")) const
    {
        error.isNull() ? answerWhenDrained(reply, ok) : reply(errorLine(error));
    }
    // Runs the work on the file queue with the note the storage and key words name.
    void withNote(std::function<void(const NotePtr& note, const Command& command)> work) const
    {
        const NotePtr note = existingNote(words.value(1), words.value(2));
        if (!note)
            return reply(QStringLiteral("error no note %1 in %2").arg(words.value(2), words.value(1)));
        Core::shared().fileQueue()->async([note, work = std::move(work), command = *this] { work(note, command); });
    }
};

void rename(const NotePtr& note, const Command& command)
{
    note->makeReadableFileNameUsingBlock([note, command](const Error& error) {
        if (!error.isNull())
            return command.answer(error);
        // The record under the new name comes with the editor's next timed save.
        Core::shared().appleCloud()->ckCloud()->saveNote(
            note, [note, command](bool) { command.answer(Error(), QStringLiteral("ok ") + note->key()); });
    });
}

void move(const NotePtr& note, const Command& command)
{
    Error error;
    note->moveNoteToStorage(note->storage() == NoteStorageInbox ? NoteStorageArchive : NoteStorageInbox, &error);
    command.answer(error, QStringLiteral("ok ") + note->key());
}

const std::map<QString, std::function<void(const Command&)>>& commands()
{
    static const std::map<QString, std::function<void(const Command&)>> all = {
        {QStringLiteral("folder"), [](const Command& c) {
             Error error;
             CloudSetup::setDriveFolder(driveCloud(), c.textAfter(1), &error);
             c.answer(error);
         }},
        {QStringLiteral("store"), [](const Command& c) {
             Error error;
             if (const auto config = CloudSetup::storeConfig(c.textAfter(1), &error))
                 CloudSetup::setRecordStore(relay(), *config, &error);
             c.answer(error);
         }},
        {QStringLiteral("online"), [](const Command& c) { setOnline(true, c.reply); }},
        {QStringLiteral("offline"), [](const Command& c) { setOnline(false, c.reply); }},
        {QStringLiteral("pushnote"), [](const Command& c) { setPush(c.words.value(1) == QLatin1String("on"), c.reply); }},
        {QStringLiteral("watch"), [](const Command& c) {
             watching = c.words.value(1) == QLatin1String("on");
             stopWatchingUnlessOn();
             answerWhenDrained(c.reply);
         }},
        {QStringLiteral("new"), [](const Command& c) { commit(std::make_shared<Note>(), c.textAfter(1), QString(), c.reply); }},
        {QStringLiteral("edit"), [](const Command& c) {
             c.withNote([](const NotePtr& note, const Command& c) { commit(note, c.textAfter(3), note->text(), c.reply); });
         }},
        {QStringLiteral("edit-over"), [](const Command& c) {
             c.withNote([](const NotePtr& note, const Command& c) {
                 commit(note, c.textAfter(4), keyWord(c.words.value(3)), c.reply);
             });
         }},
        {QStringLiteral("crash"), [](const Command& c) {
             c.withNote([](const NotePtr& note, const Command& c) {
                 note->setText(c.textAfter(3));
                 note->setUpdatedOnForChange(Clock::now());
                 note->_commitAndCloseLocalNote([](bool) { std::_Exit(137); });
             });
         }},
        {QStringLiteral("rename"), [](const Command& c) { c.withNote(rename); }},
        {QStringLiteral("move"), [](const Command& c) { c.withNote(move); }},
        {QStringLiteral("delete"), [](const Command& c) {
             c.withNote([](const NotePtr& note, const Command& c) {
                 note->trashNote([c](const Error& error) { c.answer(error); });
             });
         }},
        {QStringLiteral("pass"), [](const Command& c) { runPass(c.reply); }},
        {QStringLiteral("fetch"), [](const Command& c) {
             Core::shared().appleCloud()->ckCloud()->fetchStorage([reply = c.reply](bool ok) {
                 ok ? answerWhenDrained(reply) : reply(QStringLiteral("error the fetch failed"));
             });
         }},
        {QStringLiteral("wait"), [](const Command& c) { answerWhenDrained(c.reply); }},
        {QStringLiteral("clock"), [](const Command& c) {
             const double offset = c.words.value(1).toDouble();
             Clock::setWallClock([offset] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000 + offset; });
             c.reply(QStringLiteral("ok"));
         }},
        {QStringLiteral("status"), [](const Command& c) {
             const QStringList lines = QStringList{Core::shared().appleCloud()->localizedStatus()}
                                       + CloudSetup::storeStatus(relay());
             c.reply(QStringLiteral("ok ") + lines.join(QStringLiteral("; ")));
         }},
        {QStringLiteral("dump"), [](const Command& c) {
             Core::shared().fileQueue()->async([reply = c.reply] { reply(dump()); });
         }},
        {QStringLiteral("await"), [](const Command& c) { await(c.words, c.textAfter(4), c.reply); }},
    };
    return all;
}

void run(const QString& line, const Reply& reply)
{
    const Command command{line, line.split(QLatin1Char(' '), Qt::SkipEmptyParts), reply};
    const auto handler = commands().find(command.words.value(0));
    if (handler == commands().end())
        return reply(QStringLiteral("error unknown command \"%1\"").arg(command.words.value(0)));
    handler->second(command);
}

} // namespace

int main(int argc, char* argv[])
{
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == QLatin1String("--home") && i + 1 < argc)
            Folders::placeInHome(QDir(QString::fromLocal8Bit(argv[++i])).absolutePath());
        else if (argument == QLatin1String("--verbose"))
            verbose = true;
    }
    QCoreApplication app(argc, argv);
    Core::Configuration configuration;
    configuration.makeAppleCloud = CloudSetup::makeAppleCloud;
    Core::configure(configuration);
    Core::shared();
    VGLog::addLogger(passWatch(verbose).shared_from_this());
    auto pushes = std::make_shared<PushRelay>();
    PushCenter::shared()->setDelegate(pushes);

    std::thread reader([&] {
        std::string line;
        std::mutex output;
        while (std::getline(std::cin, line)) {
            auto answered = std::make_shared<std::promise<void>>();
            const Reply reply = [answered, &output](const QString& text) {
                std::lock_guard lock(output);
                std::printf("%s\n", qUtf8Printable(text));
                std::fflush(stdout);
                answered->set_value();
            };
            const QString command = QString::fromStdString(line).trimmed();
            if (command.isEmpty())
                continue;
            DispatchQueue::main()->async([command, reply] { run(command, reply); });
            answered->get_future().wait();
        }
        DispatchQueue::main()->async([] { QCoreApplication::quit(); });
    });
    const int status = app.exec();
    reader.join();
    Core::shared().appleCloud()->stopQuery();
    VGLog::flushLog();
    return status;
}
