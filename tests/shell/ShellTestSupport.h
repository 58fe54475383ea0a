#pragma once

#include "../panes/PanesTestSupport.h"

#include "OfflineAppleCloud.h"

#include <QMessageBox>

#include <atomic>
#include <vector>

// The offline cloud, whose wait can be held back to stand for a cloud that never drains.
class HeldCloud : public OfflineAppleCloud {
public:
    void wait(std::function<void()> block) override
    {
        if (hold)
            held.push_back(std::move(block));
        else
            OfflineAppleCloud::wait(std::move(block));
    }
    std::atomic<bool> hold = false;
    std::vector<std::function<void()>> held; // file queue only
};

inline HeldCloud& heldCloud()
{
    static HeldCloud* const cloud = new HeldCloud; // outlives Core, which is never released
    return *cloud;
}

// The main window on the shared test Core, on virtual time, animations at duration 0. Every test
// starts with empty storages and none of the window's remembered state.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Core::Configuration configuration;
        configuration.makeAppleCloud = [] { return std::shared_ptr<AppleCloud>(&heldCloud(), [](AppleCloud*) {}); };
        Core& core = sharedTestCore(configuration);
        AnimationContext::setTestMode(true);
        core.setColorTheme(0);
        core.setNoteSortOptions(0);
        core.setEnabledPostTemplate(false);
        heldCloud().hold = false;
        for (const int storage : {NoteStorageInbox, NoteStorageArchive})
            QDir(Note::documentDirectoryForStorage(storage)).removeRecursively();
        for (const char* key : {"toolbarHidden", "sidebarHidden", "folderWidth", "listWidth", "selectedStorage",
                                "selectedTag", "selectedNoteKey", "selectedNoteStorage", "notesort", "theme"})
            UserDefaults::standard().removeObject(QString::fromLatin1(key));
    }
    void TearDown() override
    {
        shown.reset();
        settle();
    }

    void open(QSize size = {1000, 600})
    {
        shown = std::make_unique<ShellWindow>(size);
        window = &shown->window;
        root = shown->shell;
        root->setTerminate([] {});
        settle();
    }
    void reopen()
    {
        shown.reset();
        settle();
        open();
    }
    static void settle()
    {
        Dispatch::waitUntilIdle();
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Dispatch::waitUntilIdle();
    }
    // A saved and indexed note.
    static NotePtr write(const QString& key, const QString& text, int storage = NoteStorageInbox)
    {
        auto note = std::make_shared<Note>(key, storage);
        note->setText(text);
        bool done = false;
        Core::shared().fileQueue()->async([&] { note->_commitAndCloseLocalNote([&](bool) { done = true; }); });
        DispatchQueue::runMainUntil([&] { return done; }, 10);
        return std::make_shared<Note>(key, storage);
    }
    NoteTextView* editor() const { return shown->editor(); }
    void type(const QString& keys) { shown->type(keys); }
    // Answers the open sheet with the button of that title; false when no sheet is open.
    bool answerSheet(const QString& button)
    {
        settle();
        auto* box = window->findChild<QMessageBox*>();
        if (!box)
            return false;
        for (QAbstractButton* candidate : box->buttons())
            if (candidate->text() == button) {
                sheetText = box->text();
                candidate->click();
                settle();
                window->activateWindow();
                EXPECT_TRUE(QTest::qWaitForWindowActive(window));
                return true;
            }
        return false;
    }

    TestSupport::VirtualTime time;
    std::unique_ptr<ShellWindow> shown;
    RootWindow* window = nullptr;
    RootViewController* root = nullptr;
    QString sheetText;
};
