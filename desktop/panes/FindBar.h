#pragma once

#include <QFrame>

class NoteTextView;
class QLineEdit;

// The incremental find bar over the editor: each change of the field selects the first match from
// where the last one started, Return the next and Shift+Return the previous, wrapping around the
// note; Escape closes it and gives the focus back to the text.
class FindBar : public QFrame {
public:
    // The text view is not owned and must outlive the bar.
    FindBar(NoteTextView& textView, QWidget* parent = nullptr);

    QLineEdit* field() const { return field_; }
    void open();
    void close();
    // Selects the match of the field's text starting at `from` or after it (before it, backwards),
    // wrapping; false, leaving the selection alone, when the text holds none.
    bool find(qsizetype from, bool backwards);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    NoteTextView& textView_;
    QLineEdit* field_;
};
