#pragma once

#include <QColor>
#include <QWidget>

class QLabel;
class QLineEdit;

// A search field in a rounded frame with its icon. A press anywhere in the frame focuses the field.
class SearchFieldWrapper : public QWidget {
public:
    explicit SearchFieldWrapper(QWidget* parent = nullptr);
    ~SearchFieldWrapper() override;

    QLineEdit* searchField() const { return searchField_; }
    QWidget* background() const { return background_; }
    QLabel* searchIcon() const { return searchIcon_; }
    void setBackgroundColor(const QColor& color);
    // The typed text, and its placeholder fainter.
    void setTextColor(const QColor& color);
    // The field 26 from the left, 3 above the bottom, w - 28 by h - 4; the frame inset by 2 and 1.
    void reloadLayout();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* background_;
    QLabel* searchIcon_;
    QLineEdit* searchField_;
};
