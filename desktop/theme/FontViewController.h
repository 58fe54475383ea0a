#pragma once

#include "kit/ViewController.h"
#include "panes/TableBridge.h"
#include "WeakDelegate.h"

#include "Themes/Typeset.h"

class FontViewController;
class QAbstractButton;
class QLabel;

class FontViewControllerDelegate {
public:
    virtual ~FontViewControllerDelegate() = default;
    virtual void fontControllerDidSelectTypeFace(FontViewController& list, TypefaceID typeface) = 0;
};

// A typeface's row: its name in its own face, a tick when current, a hairline left hidden.
class FontEntryCell : public QWidget {
public:
    explicit FontEntryCell(QWidget* parent = nullptr);

    QLabel* textField() const { return textField_; }
    QLabel* imageView() const { return imageView_; }
    QWidget* hairline() const { return hairline_; }

private:
    QLabel* textField_;
    QLabel* imageView_;
    QWidget* hairline_;
};

// The typefaces, each in its own face, the current one ticked: a blank row for the back button, the
// typefaces, a blank row. A click on another typeface is reported; the setting is the delegate's.
class FontViewController : public ViewController, public TableBridgeDelegate {
    Q_OBJECT
public:
    enum Section : int64_t { TopBlank, Typefaces, BottomBlank, SectionCount };
    static constexpr double TopBlankHeight = 44;
    static constexpr double RowHeight = 38;
    static constexpr double BottomBlankHeight = 10;
    static constexpr int NameX = 36;
    static constexpr int NameWidth = 200;

    explicit FontViewController(QObject* parent = nullptr);

    // Held weakly; it must be a QObject.
    void setDelegate(FontViewControllerDelegate* delegate) { delegate_ = delegate; }
    QAbstractButton* backButton() { return view(), backButton_; }
    TableBridge* tableBridge() { return view(), tableBridge_; }
    TableView* tableView() { return view(), tableView_; }

    // TableBridgeDelegate
    int64_t numberOfSectionsInTableView(TableView&) override { return SectionCount; }
    int64_t tableViewNumberOfRowsInSection(TableView& table, int64_t section) override;
    QWidget* tableViewRowViewForRow(TableView& table, int64_t row, int64_t section) override;
    QWidget* tableViewHeaderViewForSection(TableView&, int64_t) override { return nullptr; }
    bool tableViewShouldSelectRow(TableView&, int64_t, int64_t section) override { return section == Typefaces; }
    double tableViewHeightForRow(TableView& table, int64_t row, int64_t section) override;
    double tableViewHeightForHeaderInSection(TableView&, int64_t) override { return 0; }
    void tableViewDidSelectRow(TableView& table, int64_t row, int64_t section) override;

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

private:
    QWidget* entryView(TableView& table, int64_t row);

    WeakDelegate<FontViewControllerDelegate> delegate_;
    QAbstractButton* backButton_ = nullptr;
    TableView* tableView_ = nullptr;
    TableBridge* tableBridge_ = nullptr;
};
