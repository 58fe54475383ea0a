#include "ThemePanesTestSupport.h"

#include "theme/FontViewController.h"

#include "text/FontFaces.h"

#include <QLabel>

#include <cmath>

namespace {

class RecordingListDelegate : public QObject, public FontViewControllerDelegate {
public:
    void fontControllerDidSelectTypeFace(FontViewController&, TypefaceID typeface) override { chosen.push_back(typeface); }
    std::vector<TypefaceID> chosen;
};

struct ShownList {
    RecordingListDelegate delegate;
    FontViewController list;

    explicit ShownList(TypefaceID current)
    {
        sharedTestCore();
        AnimationContext::setTestMode(true);
        Core::shared().setTypeFace(current);
        list.setDelegate(&delegate);
        list.view()->show();
        settle();
    }
    FontEntryCell& entry(int64_t row)
    {
        return *static_cast<FontEntryCell*>(list.tableBridge()->rowView(row, FontViewController::Typefaces, true));
    }
};

} // namespace

TEST(TypefaceList, ListsEveryTypefaceInItsOrderAndHeights)
{
    ShownList shown(0);
    const QStringList expected = {"Avenir Next", "Cochin", "Courier", "Georgia", "Helvetica Neue",
                                  "Iowan Old Style", "Menlo", "Palatino", "Times New Roman"};
    TableBridge& bridge = *shown.list.tableBridge();
    ASSERT_EQ(bridge.totalRows(), 3 + 1 + 9 + 1);
    double total = 0;
    for (qsizetype row = 0; row < bridge.totalRows(); ++row)
        total += bridge.tableViewHeightOfRow(*shown.list.tableView(), row);
    EXPECT_NEAR(total, 396, 1e-9);
    for (int64_t row = 0; row < 9; ++row) {
        QLabel& name = *shown.entry(row).textField();
        EXPECT_EQ(name.text(), expected[row]);
        EXPECT_EQ(name.x(), 36);
        EXPECT_EQ(name.width(), 200);
        EXPECT_EQ(name.y(), std::lround((38 - name.height()) / 2.0)) << qPrintable(expected[row]);
        EXPECT_EQ(name.font(), FontFaces::qfont(Typeset::regularFontForTypeface(Typeset::typefaceAtIndex(row), 16)));
        EXPECT_TRUE(shown.entry(row).hairline()->isHidden());
    }
}

TEST(TypefaceList, TicksOnlyTheCurrentTypeface)
{
    struct Case {
        TypefaceID current;
        int64_t ticked; // -1: none
    };
    for (const Case c : {Case{4, 3}, Case{10, 1}, Case{6, 8}, Case{3, -1}, Case{-7, -1}}) {
        ShownList shown(c.current);
        for (int64_t row = 0; row < 9; ++row)
            EXPECT_EQ(!shown.entry(row).imageView()->isHidden(), row == c.ticked) << "current " << c.current << ", row " << row;
    }
}

TEST(TypefaceList, ReportsOnlyAnotherTypeface)
{
    ShownList shown(4);
    TableBridge& bridge = *shown.list.tableBridge();
    TableView& table = *shown.list.tableView();
    bridge.selectRow(3, FontViewController::Typefaces); // the ticked one
    table.selectRow(bridge.rowForRow(0, FontViewController::TopBlank));
    table.selectRow(bridge.rowForRow(0, FontViewController::BottomBlank));
    EXPECT_TRUE(shown.delegate.chosen.empty());
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, table.rectOfRow(bridge.rowForRow(6, FontViewController::Typefaces)).center());
    EXPECT_EQ(shown.delegate.chosen, std::vector<TypefaceID>{1});
}
