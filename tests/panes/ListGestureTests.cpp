#include "PanesTestSupport.h"

#include "panes/ListGestures.h"
#include "panes/ListViewController.h"
#include "panes/QuickOpenViewController.h"

#include <QLineEdit>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

// Everything the list tells its owner and the sounds it asks for, in one order.
struct Log : ListViewControllerDelegate {
    QStringList events;
    void listControllerDidSelectNote(ListViewController&, const NotePtr& note) override { events << "select " + note->key(); }
    void listControllerDidTapArchiveNote(ListViewController&, const NotePtr& note) override { events << "archive " + note->key(); }
    void listControllerDidTapDeleteNote(ListViewController&, const NotePtr& note) override { events << "delete " + note->key(); }
    void listControllerDidTapRestoreNote(ListViewController&, const NotePtr& note) override { events << "restore " + note->key(); }
    QString listControllerEditingText(ListViewController&) override { return {}; }
    void listControllerDidPressTriggerKey(ListViewController&, int key) override { events << QString::number(key); }
};

// Counts the keys that leave the list.
struct Parent : QWidget {
    int keys = 0;
    void keyPressEvent(QKeyEvent*) override { ++keys; }
};

class PanesListGestures : public PaneTest {
protected:
    void SetUp() override
    {
        for (const int storage : {NoteStorageInbox, NoteStorageArchive})
            QDir(Note::documentDirectoryForStorage(storage)).removeRecursively();
        list.setDelegate(&log);
        list.setSoundPlayer([this](int sound) { log.events << QStringLiteral("sound %1").arg(sound); });
        list.view()->setParent(&parent);
        parent.resize(300, 600);
        list.view()->resize(300, 600);
        parent.show();
    }
    void load(int count, int storage = NoteStorageInbox)
    {
        for (int i = 0; i < count; ++i) {
            const QString path = Note::documentFileForKey(QStringLiteral("n%1.txt").arg(i), storage);
            TestSupport::writeFile(path, "note");
            FileDates::setModificationDate(path, 1000 - i);
        }
        bool done = false;
        list.selectStorage(storage, {}, [&](bool) { done = true; });
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return done; }, 10));
        settle();
        log.events.clear();
    }
    QWidget* viewport() { return list.tableView()->viewport(); }
    QPoint rowPoint(int row) { return list.tableView()->rectOfRow(list.tableBridge()->rowForRow(row, 1)).center(); }
    ListEntryCell* cell(int row) { return static_cast<ListEntryCell*>(list.tableBridge()->rowView(row, 1, false)); }
    int scrolled() { return list.tableView()->verticalScrollBar()->value(); }
    // A pixel-precise scroll; no phase as X11 sends them.
    void wheel(QPoint at, QPoint pixels, Qt::ScrollPhase phase = Qt::NoScrollPhase, QPoint angle = {})
    {
        QWheelEvent event(at, viewport()->mapToGlobal(at), pixels, angle.isNull() ? pixels : angle, Qt::NoButton,
                          Qt::NoModifier, phase, false);
        QApplication::sendEvent(viewport(), &event);
        settle();
    }

    Parent parent;
    Log log;
    ListViewController list{core};
};

TEST_F(PanesListGestures, TrackpadScrollsSwipeARowOnlyWithAHorizontalLead)
{
    TestSupport::VirtualTime time;
    load(10);
    struct Case {
        const char* name;
        QList<std::pair<QPoint, Qt::ScrollPhase>> events;
        int state, rowX;
        bool scrolls;
    } const cases[] = {
        {"vertical lead", {{{0, -1}, Qt::ScrollBegin}, {{-2, -30}, Qt::ScrollUpdate}}, 0, 0, true},
        {"horizontal lead", {{{-1, 0}, Qt::ScrollBegin}, {{-20, 2}, Qt::ScrollUpdate}}, 21, -21, false},
        {"undecided", {{{-1, 0}, Qt::ScrollBegin}, {{-4, 2}, Qt::ScrollUpdate}}, 20, 0, false},
        {"let go open", {{{-1, 0}, Qt::ScrollBegin}, {{-40, 0}, Qt::ScrollUpdate}, {{}, Qt::ScrollEnd}}, 0, -60, false},
        {"made-up phases", {{{-1, 0}, Qt::NoScrollPhase}, {{-20, 0}, Qt::NoScrollPhase}}, 21, -21, false},
        {"mouse wheel", {{{}, Qt::NoScrollPhase}}, 0, 0, true},
    };
    for (const Case& c : cases) {
        list.tableView()->verticalScrollBar()->setValue(0);
        for (const auto& [pixels, phase] : c.events)
            wheel(rowPoint(1), pixels, phase, pixels.isNull() && !phase ? QPoint(0, -120) : QPoint());
        EXPECT_EQ(list.gestures()->panState(), c.state) << c.name;
        EXPECT_EQ(cell(1)->container()->x(), c.rowX) << c.name;
        EXPECT_EQ(scrolled() > 0, c.scrolls) << c.name;
        time.advance(ListGestures::QuietBeforeBegin); // made-up phases end; the pause begins the next
        wheel(rowPoint(1), {}, Qt::ScrollEnd);
        cell(1)->hideOptions();
        settle();
    }
}

TEST_F(PanesListGestures, ANewGestureEndsTheRunningSwipeAndBlankSpaceNeverSwipes)
{
    load(3);
    wheel(rowPoint(0), {-1, 0}, Qt::ScrollBegin);
    wheel(rowPoint(0), {-50, 0}, Qt::ScrollUpdate);
    ASSERT_EQ(list.gestures()->panState(), ListGestures::Swiping);
    wheel(rowPoint(2), {-1, 0}, Qt::ScrollBegin);
    EXPECT_EQ(cell(0)->container()->x(), -ListEntryCell::ButtonWidth) << "ended on its row: options open";
    EXPECT_EQ(list.gestures()->panState(), ListGestures::Undecided) << "the new gesture runs on its row";
    wheel(rowPoint(2), {}, Qt::ScrollEnd);

    wheel({150, 550}, {-1, 0}, Qt::ScrollBegin);
    wheel({150, 550}, {-50, 0}, Qt::ScrollUpdate);
    EXPECT_EQ(list.gestures()->panState(), ListGestures::Idle);
}

TEST_F(PanesListGestures, ASwipeMovesAtMostOneGestureUnitAndOnlyRowsTheirOwnerLetsPan)
{
    load(3);
    // The list lets its rows pan; a swipe of 3000 pixels is bounded to one unit of 1300 points.
    wheel(rowPoint(0), {-1, 0}, Qt::ScrollBegin);
    wheel(rowPoint(0), {-2999, 0}, Qt::ScrollUpdate);
    EXPECT_EQ(cell(0)->container()->x(), -int(ListGestures::PointsPerGestureUnit));
    wheel(rowPoint(0), {3000 - 650, 0}, Qt::ScrollUpdate);
    EXPECT_EQ(cell(0)->container()->x(), -650) << "within the unit the row follows the fingers";
    wheel(rowPoint(0), {}, Qt::ScrollEnd);
    settle();
    log.events.clear();

    // Quick open's rows never pan: neither a swipe nor a drag moves such a row.
    QuickOpenViewController panel(core);
    cell(1)->setDelegate(&panel);
    wheel(rowPoint(1), {-1, 0}, Qt::ScrollBegin);
    wheel(rowPoint(1), {-200, 0}, Qt::ScrollUpdate);
    EXPECT_EQ(list.gestures()->panState(), ListGestures::Idle);
    EXPECT_EQ(cell(1)->container()->x(), 0);
    wheel(rowPoint(1), {}, Qt::ScrollEnd);
    const QPoint from = rowPoint(1);
    QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport(), from + QPoint(-90, 0));
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, from + QPoint(-90, 0));
    settle();
    EXPECT_EQ(cell(1)->container()->x(), 0);
    EXPECT_EQ(cell(1)->dragState(), ListEntryCell::Resting);
    cell(1)->setDelegate(&list);
}

TEST_F(PanesListGestures, ClicksSelectDragsSlideAndButtonsTakeTheirOwnPresses)
{
    load(3, NoteStorageArchive);
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, rowPoint(1));
    EXPECT_EQ(log.events, QStringList{"select n1.txt"});
    EXPECT_TRUE(list.tableView()->hasFocus());

    QLineEdit search(&parent);
    search.show();
    search.setFocus();
    list.setSearchField(&search);
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, rowPoint(0));
    EXPECT_TRUE(search.hasFocus()) << "the search field keeps the focus";

    log.events.clear();
    const QPoint from = rowPoint(2);
    QTest::mousePress(viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport(), from + QPoint(-70, 0));
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, from + QPoint(-70, 0));
    settle();
    EXPECT_EQ(cell(2)->container()->x(), -2 * ListEntryCell::ButtonWidth) << "the drag opened the buttons";
    EXPECT_TRUE(log.events.isEmpty()) << "a drag selects nothing";

    BoxButton* restore = cell(2)->restoreButton();
    QTest::mouseClick(restore, Qt::LeftButton, {}, restore->rect().center());
    EXPECT_EQ(log.events, (QStringList{"sound 0", "restore n2.txt"}));
    EXPECT_EQ(list.gestures()->panState(), ListGestures::Idle);

    QTest::mouseClick(viewport(), Qt::LeftButton, {}, rowPoint(1));
    EXPECT_EQ(cell(2)->container()->x(), 0) << "selecting another row closes the buttons";
}

TEST_F(PanesListGestures, AnArmedSwipeArchivesLeftIsTheTriggerKeyAndOtherKeysGoOnOnce)
{
    TestSupport::VirtualTime time;
    load(2);
    cell(0)->setSoundPlayer([](int) {});
    cell(0)->containerPanDidStart();
    cell(0)->containerPanDidMove(-200);
    cell(0)->containerPanDidEnd();
    time.advance(0.31);
    settle();
    EXPECT_EQ(log.events, (QStringList{"archive n0.txt", "sound 3"}));
    log.events.clear();
    QTest::keyClick(list.tableView(), Qt::Key_Left);
    QTest::keyClick(list.tableView(), Qt::Key_Left, Qt::KeypadModifier);
    EXPECT_EQ(log.events, (QStringList{"63234", "63234"}));
    EXPECT_EQ(parent.keys, 0);
    QTest::keyClick(list.tableView(), Qt::Key_Right);
    EXPECT_EQ(parent.keys, 1);
}

} // namespace
