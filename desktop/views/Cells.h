#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// A push button whose title has its own colour, kept when the button is disabled instead of the
// style's greyed text.
class ImageButtonCell : public QPushButton {
public:
    explicit ImageButtonCell(QWidget* parent = nullptr) : QPushButton(parent) {}

    // For every state of the button.
    void setTitleColor(const QColor& color);
};

// A text field that draws no frame and no background of its own; its owner paints what lies around.
class SearchFieldCell : public QLineEdit {
public:
    explicit SearchFieldCell(QWidget* parent = nullptr);
};

// A label whose text sits three tenths of the spare height below its top edge, not centred.
class LabelCell : public QLabel {
public:
    explicit LabelCell(QWidget* parent = nullptr);

    // The text's rectangle in the bounds: y is bounds.y + (bounds.height - text height) * 0.3,
    // negative when the text is taller than the bounds.
    QRect titleRectForBounds(const QRect& bounds) const;
    static int titleOffset(int boundsHeight, int textHeight);

protected:
    void paintEvent(QPaintEvent* event) override;
};
