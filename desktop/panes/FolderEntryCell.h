#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

class FolderEntryCell;

class FolderEntryCellDelegate {
public:
    virtual ~FolderEntryCellDelegate() = default;
    // The fill behind the entry, asked at every paint; none draws no background.
    virtual std::optional<QColor> backgroundColorForFolderEntry(const FolderEntryCell& cell) = 0;
};

// One sidebar entry: a line of text left-aligned and vertically centred over the colour its delegate
// gives.
class FolderEntryCell : public QWidget {
public:
    static constexpr int TextInset = 20;

    explicit FolderEntryCell(QWidget* parent = nullptr);

    // Not owned; set by the controller each time it hands the cell out.
    void setDelegate(FolderEntryCellDelegate* delegate) { delegate_ = delegate; }
    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setTextColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    FolderEntryCellDelegate* delegate_ = nullptr;
    QString text_;
    QColor textColor_;
};
