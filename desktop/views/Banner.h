#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// A strip above a pane's content that tells something with a wrapped message and, when it has a
// title, one button. Neither takes the keyboard by appearing or by a click, so what it tells never
// interrupts typing; Tab still reaches the button.
class Banner : public QWidget {
public:
    explicit Banner(QWidget* parent = nullptr);

    QString message() const;
    void setMessage(const QString& text);
    // An empty title hides the button.
    void setButtonTitle(const QString& title);
    QPushButton* button() const { return button_; }
    // The button is filled with the pane's own colour and titled in the text colour, so it reads on
    // any strip colour.
    void setColors(const QColor& background, const QColor& text, const QColor& buttonBackground);

private:
    QLabel* label_;
    QPushButton* button_;
};
