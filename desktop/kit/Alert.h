#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

// A question sheet over a window. Buttons keep the order they were added in; the answer is
// FirstButtonReturn plus the button's index. A button titled "Cancel" also answers Escape.
class Alert {
public:
    static constexpr int FirstButtonReturn = 1000;
    enum class Style { Informational, Warning, Critical };

    void setMessageText(const QString& text) { message_ = text; }
    void setInformativeText(const QString& text) { informative_ = text; }
    void setStyle(Style style) { style_ = style; }
    void addButton(const QString& title) { buttons_.append(title); }

    // Opens the sheet, modal to the window only, and returns at once; the handler gets the answer.
    // The box deletes itself when it closes.
    QMessageBox* beginSheetModal(QWidget* window, std::function<void(int response)> handler) const;

private:
    QString message_;
    QString informative_;
    Style style_ = Style::Warning;
    QStringList buttons_;
};
