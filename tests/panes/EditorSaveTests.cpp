#include "EditorTestSupport.h"

#include "../note/TrashedCopies.h"
#include "../warehouse/DiskFault.h"

#include <QMap>
#include <QMessageBox>
#include <QPushButton>

#include <atomic>

namespace {

// Holds the file queue, so a read queued meanwhile waits, until released.
class HeldFileQueue {
public:
    HeldFileQueue()
    {
        Core::shared().fileQueue()->async([gate = gate_] { Dispatch::waitUntilSet(*gate); });
    }
    ~HeldFileQueue() { release(); }
    void release()
    {
        gate_->store(true, std::memory_order_release);
        gate_->notify_all();
    }

private:
    std::shared_ptr<std::atomic<bool>> gate_ = std::make_shared<std::atomic<bool>>(false);
};

// Types at the end of the text and saves with Ctrl+S.
void appendAndSave(NoteTextView* view, const QString& keys)
{
    view->setSelectedRange({view->string().size(), 0});
    QTest::keyClicks(view, keys);
    QTest::keyClick(view, Qt::Key_S, Qt::ControlModifier);
    Dispatch::waitUntilIdle();
}

QList<QMessageBox*> alerts(QWidget& window) { return window.findChildren<QMessageBox*>(); }

void answer(QMessageBox* box, const QString& button)
{
    for (QAbstractButton* b : box->buttons()) {
        if (b->text() == button)
            b->click();
    }
    QApplication::processEvents();
}

// Switching notes while the next one's text is still on its way to the view: what is typed and
// saved in that gap reaches no note.
TEST_F(EditorTest, SwitchingWhileANoteLoadsNeverWritesOneNotesTextIntoAnother)
{
    QMap<QString, QByteArray> expected{
        {QStringLiteral("Big.txt"), "Big note\n" + QByteArray("a line of a long note, one of many\n").repeated(8000)},
        {QStringLiteral("Small note.txt"), "Small note\nprecious words"},
        {QStringLiteral("Tiny.txt"), "27 bytes of a tiny note ..."},
    };
    for (auto it = expected.begin(); it != expected.end(); ++it)
        TestSupport::writeFile(Note::documentFileForKey(it.key(), NoteStorageInbox), it.value());
    // Only the local files are in question: the record store, whose own conflict rule may fork a note
    // saved twice, stays out.
    const bool cloud = Core::shared().enabledAppleCloud();
    Core::shared().setEnabledAppleCloud(false);
    // Every file holds its own text and what was typed into it while it showed: after each gap, when
    // the note left has been saved, and at the end.
    const auto expectOwnTexts = [&] {
        for (auto it = expected.begin(); it != expected.end(); ++it)
            EXPECT_EQ(onDisk(it.key()), it.value()) << qPrintable(it.key());
    };
    const QStringList switches{"Big.txt", "Small note.txt", "Tiny.txt", "Big.txt", "Tiny.txt", "Small note.txt"};
    for (qsizetype i = 0; i < switches.size(); ++i) {
        const QString& key = switches[i];
        // Two orders of the race: the keys come before the read, or after it but before its text
        // reaches the view (the main thread still busy).
        const bool readFirst = i % 2 == 1;
        SCOPED_TRACE(qPrintable(key + (readFirst ? " read first" : " read held")));
        {
            HeldFileQueue held;
            controller->showNote(std::make_shared<Note>(key, NoteStorageInbox));
            if (readFirst) {
                held.release();
                Core::shared().fileQueue()->sync([] {});
            }
            view()->setFocus();
            QTest::keyClick(view(), Qt::Key_End, Qt::ControlModifier);
            type(" typed");
            QTest::keyClick(view(), Qt::Key_S, Qt::ControlModifier);
            controller->textView()->paste();
            EXPECT_TRUE(controller->editingText().isNull()) << "no note's text while one loads";
        }
        Dispatch::waitUntilIdle();
        expectOwnTexts();
        time.advance(1.0);
        EXPECT_EQ(text().toUtf8(), expected[key]);
        QTest::keyClick(view(), Qt::Key_End, Qt::ControlModifier);
        const QByteArray mine = " +" + key.left(3).toUtf8();
        type(QString::fromUtf8(mine));
        expected[key] += mine;
        time.advance(1.0);
    }
    QTest::keyClick(view(), Qt::Key_S, Qt::ControlModifier);
    Dispatch::waitUntilIdle();
    expectOwnTexts();
    Core::shared().setEnabledAppleCloud(cloud);
}

// A note with a stray byte opens read-only with the reason above it; made editable, its first save
// keeps the original bytes in the Trash and writes the valid characters as they were.
TEST_F(EditorTest, AStrayByteOpensReadOnlyUntilMadeEditableAndTheOriginalGoesToTheTrash)
{
    const QByteArray original = "caf\xC3\xA9 na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC \xE2\x80\xA6 \xFF";
    openStored(QStringLiteral("Stray.txt"), original);
    EXPECT_EQ(text(), u"café naïve 日本 … \uFFFD"_qs);
    EXPECT_TRUE(view()->isReadOnly());
    EXPECT_FALSE(controller->readOnlyReason().isEmpty());
    appendAndSave(view(), QStringLiteral(" lost"));
    EXPECT_EQ(onDisk(QStringLiteral("Stray.txt")), original);

    QPushButton* edit = nullptr;
    for (QPushButton* button : controller->view()->findChildren<QPushButton*>())
        edit = button->text() == QStringLiteral("Edit Anyway") ? button : edit;
    ASSERT_NE(edit, nullptr);
    ASSERT_TRUE(edit->isVisible());
    QTest::mouseClick(edit, Qt::LeftButton);
    EXPECT_FALSE(view()->isReadOnly());
    EXPECT_TRUE(controller->readOnlyReason().isEmpty());
    appendAndSave(view(), QStringLiteral(" EDIT"));
    EXPECT_EQ(onDisk(QStringLiteral("Stray.txt")), "caf\xC3\xA9 na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC \xE2\x80\xA6 "
                                                   "\xEF\xBF\xBD EDIT");
    EXPECT_EQ(trashedCopies(original), 1);
}

// A failed save is told once, above the text and in no window that would take the keys; at quit the
// notes still unsaved are named and the user decides; once the disk takes them, the strip goes and
// quitting asks nothing.
TEST_F(EditorTest, AFailedSaveIsToldOnceAndQuittingAsksWhileNotesAreUnsaved)
{
    QString refusal;
    const auto fault = DiskFault::make(DiskFault::Kind::InjectedFull,
                                       Note::documentDirectoryForStorage(NoteStorageInbox), &refusal);
    openStored(QStringLiteral("Unsaved.txt"), "Unsaved note\nfirst line");
    fault->fail();
    appendAndSave(view(), QStringLiteral(" second"));
    settle();
    EXPECT_TRUE(alerts(window).isEmpty());
    EXPECT_TRUE(controller->saveFailureMessage().contains(QStringLiteral("“Unsaved note” could not be saved")))
        << qPrintable(controller->saveFailureMessage());
    EXPECT_EQ(QApplication::focusWidget(), view()) << "the keys stay with the text";
    QPushButton* dismiss = nullptr;
    for (QPushButton* button : controller->view()->findChildren<QPushButton*>())
        dismiss = button->isVisible() && button->text() == QStringLiteral("OK") ? button : dismiss;
    ASSERT_NE(dismiss, nullptr);
    QTest::mouseClick(dismiss, Qt::LeftButton);
    EXPECT_TRUE(controller->saveFailureMessage().isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), view()) << "a click on the strip leaves the caret where it was";
    type(" third");
    time.advance(Warehouse::RetryDelay);
    QTest::keyClick(view(), Qt::Key_S, Qt::ControlModifier);
    Dispatch::waitUntilIdle();
    settle();
    EXPECT_TRUE(controller->saveFailureMessage().isEmpty()) << "the same failure is told once";

    for (const QString& choice : {QStringLiteral("Don't Quit"), QStringLiteral("Quit Anyway")}) {
        int proceeded = 0;
        controller->applicationShouldTerminate([&] { ++proceeded; });
        ASSERT_EQ(alerts(window).size(), 1) << qPrintable(choice);
        EXPECT_TRUE(alerts(window).first()->informativeText().contains(QStringLiteral("Unsaved note")));
        EXPECT_EQ(proceeded, 0);
        answer(alerts(window).first(), choice);
        settle();
        EXPECT_EQ(proceeded, choice == QStringLiteral("Quit Anyway") ? 1 : 0);
    }
    fault->heal();
    int proceeded = 0;
    controller->applicationShouldTerminate([&] { ++proceeded; });
    EXPECT_EQ(proceeded, 1);
    EXPECT_TRUE(alerts(window).isEmpty());
    EXPECT_EQ(onDisk(QStringLiteral("Unsaved.txt")), "Unsaved note\nfirst line second third");
}

// Told of a failure and not dismissed, the strip goes once every failed note is saved.
TEST_F(EditorTest, TheSaveFailureStripGoesWhenTheDiskTakesTheNote)
{
    QString refusal;
    const auto fault = DiskFault::make(DiskFault::Kind::InjectedFull,
                                       Note::documentDirectoryForStorage(NoteStorageInbox), &refusal);
    openStored(QStringLiteral("Later.txt"), "Later note\nfirst line");
    fault->fail();
    appendAndSave(view(), QStringLiteral(" second"));
    settle();
    ASSERT_FALSE(controller->saveFailureMessage().isEmpty());
    fault->heal();
    time.advance(Warehouse::RetryDelay);
    Dispatch::waitUntilIdle();
    settle();
    EXPECT_TRUE(controller->saveFailureMessage().isEmpty());
    EXPECT_EQ(onDisk(QStringLiteral("Later.txt")), "Later note\nfirst line second");
}

// A short new note is saved after a pause like a long one; a short stored one still waits.
TEST_F(EditorTest, AShortNewNoteIsSavedAfterAPause)
{
    windowDelegate.newNoteText = QString();
    controller->newNoteDidTapFromMenu();
    Dispatch::waitUntilIdle();
    type("Milk");
    Dispatch::waitUntilIdle();
    ASSERT_FALSE(warehouse->editingNote()->key().isEmpty()) << "written at the first key";
    type(" and eggs");
    time.advance(2.0);
    EXPECT_EQ(onDisk(warehouse->editingNote()->key()), "Milk and eggs");
}

} // namespace
