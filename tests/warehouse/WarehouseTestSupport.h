#pragma once

#include "../store/ScriptedCloud.h"
#include "../store/StoreTestSupport.h"

#include "Core.h"
#include "Store/Note.h"
#include "Store/Warehouse.h"
#include "Store/WarehouseEditingDelegate.h"

#include "Clock.h"
#include "Dispatch.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

// 2024-03-15 08:30:12 UTC: every stamp the session writes in these tests.
inline constexpr double WarehouseNow = 1710491412.25;
inline constexpr int64_t WarehouseNowSeconds = 1710491412;

// The shared Core of the test process: its folders in the temporary home and
// a scripted cloud that answers at once on the caller's thread.
inline ScriptedAppleCloud& scriptedCloud()
{
    static const std::shared_ptr<ScriptedAppleCloud> cloud = [] {
        auto made = std::make_shared<ScriptedAppleCloud>();
        Core::Configuration configuration;
        configuration.makeAppleCloud = [made] { return made; };
        sharedTestCore(configuration);
        return made;
    }();
    return *cloud;
}

// Stands in for the main window's controller and its editor: the editor holds
// `text` and a caret; every call is recorded, with whether it came on the main
// thread.
class FakeEditor : public WarehouseEditingDelegate {
public:
    QString text;
    int64_t caret = 0;
    bool allowAutoSave = true;
    bool userIsEditing = false;
    bool textAvailable = true;

    QStringList calls;
    QList<int64_t> changeReports;
    bool offMainThread = false;

    int count(const QString& call) const { return int(calls.count(call)); }

    bool warehouseReloadScrollPositionForNote(Warehouse&, const NotePtr& note) override
    {
        record(QStringLiteral("scroll"));
        note->setSelectedCaret(caret);
        return true;
    }
    bool warehouseReloadTextForNote(Warehouse&, const NotePtr& note) override
    {
        record(QStringLiteral("text"));
        if (!textAvailable)
            return false;
        note->setText(text);
        return true;
    }
    bool warehouseShouldAutoSaveEditingNote(Warehouse&, const NotePtr&) override
    {
        record(QStringLiteral("shouldAutoSave"));
        return allowAutoSave;
    }
    bool warehouseUserIsEditingNote(Warehouse&, const NotePtr&) override
    {
        record(QStringLiteral("userIsEditing"));
        return userIsEditing;
    }
    // As the main window does: the editor shows the text, and nothing is pending.
    void warehouseRemoteServerDidUpdateEditingNote(Warehouse& warehouse, const NotePtr&, const QString& remoteText) override
    {
        record(QStringLiteral("remoteUpdate"));
        text = remoteText;
        warehouse.resetEditingChanges();
    }
    void warehouseRemoteServerDidDeleteEditingNote(Warehouse&, const NotePtr&) override
    {
        record(QStringLiteral("remoteDelete"));
    }
    void warehouseEditingNote(Warehouse&, const NotePtr&, int64_t changes) override
    {
        record(QStringLiteral("didChanges"));
        changeReports.append(changes);
    }
    void warehouseDidFailToSaveNote(Warehouse&, const NotePtr&) override { record(QStringLiteral("saveFailed")); }

private:
    void record(const QString& call)
    {
        calls.append(call);
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            offMainThread = true;
    }
};

// The ways a session ends.
enum class Ending { End, MoveOrDelete, Emergency, Commit };

inline void finish(Warehouse& warehouse, Ending ending, const Warehouse::Block& block)
{
    switch (ending) {
    case Ending::End: warehouse.endEditingNote(block); break;
    case Ending::MoveOrDelete: warehouse.endEditingNoteForMoveOrDelete(block); break;
    case Ending::Emergency: warehouse.emergencyCommitEditingNote(block); break;
    case Ending::Commit: warehouse.commitEditingNote(block); break;
    }
}

// One session on virtual time, with the editor as its delegate.
class WarehouseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cloud = &scriptedCloud();
        cloud->commitDate = QDateTime::fromSecsSinceEpoch(WarehouseNowSeconds + 30, Qt::UTC);
        cloud->error = Error();
        cloud->scriptedCKCloud->result = true;
        Core::shared().setEnabledAppleCloud(true);
        Clock::setWallClock([] { return WarehouseNow; });
        driveCalls = cloud->calls().size();
        ckCalls = cloud->scriptedCKCloud->calls().size();
        warehouse = Warehouse::create();
        editor = std::make_shared<FakeEditor>();
        warehouse->setEditingDelegate(editor);
    }

    void TearDown() override
    {
        Dispatch::waitUntilIdle();
        EXPECT_FALSE(editor->offMainThread) << "the delegate was called off the main thread";
        warehouse.reset();
        Clock::setWallClock({});
    }

    // A note saved earlier: its text file only, in the inbox.
    static NotePtr savedNote(const QString& key, const QString& text, int storage = NoteStorageInbox)
    {
        TestSupport::writeFile(Note::documentFileForKey(key, storage), text.toUtf8());
        return std::make_shared<Note>(key, storage);
    }

    // Starts a session on the note with the editor showing its text; waits for the read.
    void start(const NotePtr& note)
    {
        int started = 0;
        warehouse->startEditingNote(note, [&] { ++started; });
        Dispatch::waitUntilIdle();
        ASSERT_EQ(started, 1);
        editor->text = note->text();
    }

    // A saved note with a session started on it.
    NotePtr startSaved(const QString& key, const QString& text)
    {
        const NotePtr note = savedNote(key, text);
        start(note);
        return note;
    }

    // Ends the session and waits for the file work; the block ran once.
    void finishAndWait(Ending ending)
    {
        int calls = 0;
        finish(*warehouse, ending, [&] { ++calls; });
        Dispatch::waitUntilIdle();
        EXPECT_EQ(calls, 1);
    }

    // The user types: the editor's text changes and the session hears of it.
    void type(const QString& more, int64_t changes = 1)
    {
        editor->text += more;
        warehouse->addEditingChanges(changes);
    }

    void advance(double seconds) { time.advance(seconds); }

    static QString textOnDisk(const NotePtr& note)
    {
        return QString::fromUtf8(TestSupport::readFile(Note::documentFileForKey(note->key(), note->storage())));
    }

    QStringList newDriveCalls() const { return cloud->calls().mid(driveCalls); }
    QStringList newCKCalls() const { return cloud->scriptedCKCloud->calls().mid(ckCalls); }

    TestSupport::VirtualTime time;
    ScriptedAppleCloud* cloud = nullptr;
    qsizetype driveCalls = 0;
    qsizetype ckCalls = 0;
    std::shared_ptr<Warehouse> warehouse;
    std::shared_ptr<FakeEditor> editor;
};
