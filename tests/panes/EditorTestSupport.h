#pragma once

#include "PanesTestSupport.h"

#include "panes/NoteViewController.h"

#include <QScrollBar>
#include <QVBoxLayout>

// Records what the editor tells the window, and answers as the window does.
class RecordingWindowDelegate : public NoteViewControllerDelegate {
public:
    int storageForNewNote(NoteViewController&) override { return NoteStorageInbox; }
    QString textForNewNote(NoteViewController&) override { return newNoteText; }
    void noteControllerNoteDidOpen(NoteViewController&, const NotePtr&) override {}
    bool noteControllerDidKeyDown(NoteViewController&, const QKeyEvent& event) override
    {
        keys.append(event.key());
        return false;
    }
    void noteControllerDidBecomeFirstResponder(NoteViewController&) override { ++focusChanges; }
    void noteControllerDidResignFirstResponder(NoteViewController&) override { --focusChanges; }

    QString newNoteText;
    QList<int> keys;
    int focusChanges = 0; // +1 per becoming the first responder, -1 per resigning
};

// The editor in a window of its own with a Warehouse, on virtual time, its animations at duration 0.
class EditorTest : public ::testing::Test {
public:
    void SetUp() override
    {
        sharedTestCore();
        AnimationContext::setTestMode(true);
        Core::shared().setTypeSizeOffset(0);
        Core::shared().setColorTheme(0);
        warehouse = Warehouse::create();
        controller = std::make_unique<NoteViewController>();
        controller->setWarehouse(warehouse);
        controller->setDelegate(&windowDelegate);
        warehouse->setEditingDelegate(controller->editingDelegate());
        controller->setLinkOpener([this](const QUrl& url) {
            openedLinks.append(url.toString());
            return true;
        });
        window.resize(800, 600);
        auto* column = new QVBoxLayout(&window);
        column->setContentsMargins(0, 0, 0, 0);
        column->addWidget(controller->view());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        view()->setFocus();
    }

    void TearDown() override
    {
        Dispatch::waitUntilIdle();
        controller.reset();
        warehouse.reset();
    }

    NoteTextView* view() { return controller->textView(); }
    QString text() { return view()->string(); }

    // Opens a note saved earlier with these bytes; waits for the read.
    NotePtr openStored(const QString& key, const QByteArray& bytes)
    {
        TestSupport::writeFile(Note::documentFileForKey(key, NoteStorageInbox), bytes);
        auto note = std::make_shared<Note>(key, NoteStorageInbox);
        int completions = 0;
        controller->showNote(note, [&] { ++completions; });
        Dispatch::waitUntilIdle();
        EXPECT_EQ(completions, 1);
        return note;
    }

    static QByteArray onDisk(const QString& key)
    {
        return TestSupport::readFile(Note::documentFileForKey(key, NoteStorageInbox));
    }

    void type(const QString& keys) { QTest::keyClicks(view(), keys); }

    TestSupport::VirtualTime time;
    QWidget window;
    std::shared_ptr<Warehouse> warehouse;
    std::unique_ptr<NoteViewController> controller;
    RecordingWindowDelegate windowDelegate;
    QStringList openedLinks;
};
