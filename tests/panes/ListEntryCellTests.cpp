#include "PanesTestSupport.h"

#include "panes/ListEntryCell.h"

#include "kit/QtColor.h"

#include <QLabel>

namespace {

struct RecordingCellDelegate : ListEntryCellDelegate {
    int touches = 0;
    int optionsShown = 0;
    QList<std::pair<QString, int>> swipes;
    QList<int> taps;
    void listEntryDidTouchDown(ListEntryCell&) override { ++touches; }
    void listEntryDidShowOptions(ListEntryCell&) override { ++optionsShown; }
    void listEntryDidSwipeAction(ListEntryCell&, const QString& key, int storage) override
    {
        swipes.append({key, storage});
    }
    void listEntryDidTapOption(ListEntryCell&, int index) override { taps.append(index); }
    bool listEntryWillPan(ListEntryCell&) override { return true; }
    QColor backgroundColorForListEntry(const ListEntryCell&) override { return Qt::white; }
};

ListItemPtr item(const QString& key, int storage = NoteStorageInbox)
{
    auto made = std::make_shared<ListItem>();
    made->setKey(key);
    made->setStorage(storage);
    return made;
}

class PanesListEntryCell : public PaneTest {
protected:
    void SetUp() override
    {
        cell.setDelegate(&delegate);
        cell.setListItem(item(QStringLiteral("a.txt")));
        cell.setSoundPlayer([this](int sound) { sounds.append(sound); });
        cell.resize(300, 96);
    }
    // A drag from the row's current place through each translation, then released.
    void drag(int mode, std::initializer_list<double> moves, bool cancel = false)
    {
        cell.setMode(mode);
        cell.containerPanDidStart();
        for (const double dx : moves)
            cell.containerPanDidMove(dx);
        cancel ? cell.containerPanDidCancel() : cell.containerPanDidEnd();
        settle();
    }
    int containerX() const { return cell.container()->x(); }

    RecordingCellDelegate delegate;
    ListEntryCell cell;
    QList<int> sounds;
};

TEST_F(PanesListEntryCell, ReleasesSettleByModeAndDistance)
{
    struct Case {
        int mode;
        std::initializer_list<double> moves;
        int restsAt;
        int optionsShown;
    };
    const Case cases[] = {
        {ListEntryCell::Swipe, {-100}, -60, 1},
        {ListEntryCell::Swipe, {-29}, 0, 0},
        {ListEntryCell::Swipe, {-30}, -60, 1},
        {ListEntryCell::Swipe, {20, -100}, 0, 0}, // right first: ignored to the end
        {ListEntryCell::TwoButtons, {-400}, -120, 1},
        {ListEntryCell::OneButton, {-400}, -60, 1},
        {ListEntryCell::TwoButtons, {0}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " to " << *std::prev(c.moves.end()));
        cell.setOffset(0);
        delegate.optionsShown = 0;
        drag(c.mode, c.moves);
        EXPECT_EQ(containerX(), c.restsAt);
        EXPECT_EQ(delegate.optionsShown, c.optionsShown);
        EXPECT_EQ(cell.dragState(), c.restsAt == 0 ? ListEntryCell::Resting : ListEntryCell::Dragging);
        EXPECT_TRUE(sounds.isEmpty());
    }
}

TEST_F(PanesListEntryCell, TheTrashButtonComesOutFromUnderTheRestoreButton)
{
    cell.setMode(ListEntryCell::TwoButtons);
    for (const auto& [offset, trash] : {std::pair{-40, 240}, {-100, 200}, {-300, 180}}) {
        cell.setOffset(offset);
        EXPECT_EQ(cell.trashButton()->x(), trash) << offset;
        EXPECT_EQ(cell.restoreButton()->x(), 240) << offset;
    }
}

TEST_F(PanesListEntryCell, ArmingPastTheSwipeWidthAndBack)
{
    cell.setMode(ListEntryCell::Swipe);
    cell.show();
    cell.containerPanDidStart();
    cell.containerPanDidMove(-150);
    EXPECT_EQ(cell.dragState(), ListEntryCell::Armed);
    EXPECT_TRUE(cell.trashButton()->isHidden());
    EXPECT_EQ(cell.contentView()->palette().color(QPalette::Window),
              toQColor(Themeset::archiveButtonColorForTheme(core.colorTheme())));
    EXPECT_EQ(cell.swipeLabel()->palette().color(QPalette::WindowText),
              toQColor(Themeset::archiveTextColorForTheme(core.colorTheme())));
    EXPECT_EQ(cell.swipeContainer()->x(), 150) << "travels with the container past -140";
    cell.containerPanDidMove(-139);
    EXPECT_EQ(cell.dragState(), ListEntryCell::Dragging);
    EXPECT_FALSE(cell.trashButton()->isHidden());
    EXPECT_EQ(cell.contentView()->palette().color(QPalette::Window),
              toQColor(Themeset::inactiveButtonColorForTheme(core.colorTheme())));
    EXPECT_EQ(sounds, (QList<int>{1, 2}));
    cell.containerPanDidEnd();
    settle();
    EXPECT_TRUE(delegate.swipes.isEmpty());
}

TEST_F(PanesListEntryCell, AnArmedDragFiresAfterTheSlideForTheNoteItWasArmedOn)
{
    TestSupport::VirtualTime time;
    for (const bool cancel : {false, true}) {
        delegate.swipes.clear();
        cell.setListItem(item(QStringLiteral("armed.txt"), NoteStorageInbox));
        cell.setOffset(0);
        drag(ListEntryCell::Swipe, {-160}, cancel);
        EXPECT_EQ(containerX(), -300) << "slides out";
        cell.setListItem(item(QStringLiteral("reused.txt"), NoteStorageArchive)); // the table reused the row
        time.advance(0.29);
        EXPECT_TRUE(delegate.swipes.isEmpty());
        time.advance(0.02);
        EXPECT_EQ(delegate.swipes, (QList<std::pair<QString, int>>{{QStringLiteral("armed.txt"), NoteStorageInbox}}));
    }
}

TEST_F(PanesListEntryCell, ADragStartedOnOpenOptionsClosesThemAndButtonsReportTheirIndex)
{
    drag(ListEntryCell::TwoButtons, {-200});
    ASSERT_EQ(containerX(), -120);
    drag(ListEntryCell::TwoButtons, {-10});
    EXPECT_EQ(containerX(), 0);
    cell.show();
    cell.setOffset(-120);
    QTest::mouseClick(cell.trashButton(), Qt::LeftButton);
    QTest::mouseClick(cell.restoreButton(), Qt::LeftButton);
    EXPECT_EQ(delegate.taps, (QList<int>{1, 2}));
    EXPECT_EQ(delegate.touches, 2);
}

TEST(PanesBoxButton, PressedLookLightensInHardLight)
{
    BoxButton button;
    button.resize(60, 40);
    button.setBackgroundColor(QColor(40, 80, 160));
    const QColor plain = button.grab().toImage().pixelColor(5, 5);
    button.setPressedLook(true);
    const QColor pressed = button.grab().toImage().pixelColor(5, 5);
    EXPECT_EQ(plain, QColor(40, 80, 160));
    QImage expected(1, 1, QImage::Format_ARGB32_Premultiplied);
    expected.fill(QColor(40, 80, 160));
    QPainter painter(&expected);
    painter.setCompositionMode(QPainter::CompositionMode_HardLight);
    painter.fillRect(0, 0, 1, 1, QColor(255, 255, 255, 64));
    painter.end();
    EXPECT_EQ(pressed, expected.pixelColor(0, 0));
    EXPECT_NE(pressed, plain);
}

} // namespace
