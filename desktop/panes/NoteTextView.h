#pragma once

#include "TextView.h"
#include "kit/Responder.h"
#include "panes/UndoHistory.h"

#include "Typewriter/TypewriterAction.h"
#include "Typewriter/TypewriterTextView.h"

#include "Dispatch.h"

#include <QColor>
#include <QTimer>

class NoteTextView;
class QKeyEvent;
class QMimeData;

// What the editor pane hears from its text view before the view acts.
class NoteTextViewDelegate {
public:
    virtual ~NoteTextViewDelegate() = default;
    virtual void noteTextViewDidBecomeFirstResponder(NoteTextView& view) = 0;
    virtual void noteTextViewDidResignFirstResponder(NoteTextView& view) = 0;
    // Every key press, first; true consumes it.
    virtual bool noteTextViewDidKeyDown(NoteTextView& view, const QKeyEvent& event) = 0;
    virtual void noteTextViewDidTypewriterAction(NoteTextView& view, TypewriterAction action) = 0;
    // Before a paste; false refuses it.
    virtual bool noteTextViewReadSelectionFromPasteboard(NoteTextView& view, const QMimeData& data) = 0;
    // A click on a link anchor at the character index; the view never opens a link itself.
    virtual void noteTextViewClickedOnLink(NoteTextView& view, const QString& link, qsizetype index) = 0;
    // An undo or redo changed the text by `count` units (replaced plus new).
    virtual void noteTextViewDidUndo(NoteTextView& view, qsizetype count) = 0;
};

// The editor's text view: a TextView that the typewriter edits, with undo of its own, a 3-pixel caret
// of its own drawing, focus, key, paste and link hooks for its note delegate, and the formatting menu
// actions, each sent to the delegate as a TypewriterAction. It knows nothing of Markdown or notes.
// The change hook goes to the delegate given with setDelegate(); the view stays the base class's
// delegate so that it records every change it lets through.
class NoteTextView : public TextView, public TypewriterTextView, public Responder, private TextViewDelegate {
    Q_OBJECT
    Q_PROPERTY(double findIndicatorAlpha READ findIndicatorAlpha WRITE setFindIndicatorAlpha)
public:
    static constexpr int CaretWidth = 3;

    explicit NoteTextView(QWidget* parent = nullptr);
    ~NoteTextView() override;

    // Not owned.
    void setDelegate(TextViewDelegate* delegate) { changeDelegate_ = delegate; }
    void setNoteDelegate(NoteTextViewDelegate* delegate) { noteDelegate_ = delegate; }
    // Replaces the base's: the view watches its storage too.
    void setTextStorage(TextStorage* storage);
    void setCaretColor(const QColor& color);

    // TypewriterTextView. setString() replaces the text and forgets the undo history.
    const QString& string() const override;
    qsizetype length() const override;
    QChar characterAtIndex(qsizetype index) const override;
    QString substring(TextRange range) const override;
    TextRange paragraphRange(TextRange range) const override;
    AttributedString attributedString() const override;
    void setString(const QString& string) override;
    void insertText(const QString& text, TextRange replacementRange) override;
    void beginUndoGroup() override { history_.beginGroup(); }
    void endUndoGroup() override { history_.endGroup(); }

    void undo();
    void redo();
    bool canUndo() const { return history_.canUndo(); }
    bool canRedo() const { return history_.canRedo(); }
    void clearUndoHistory() { history_.clear(); }

    // The caret as drawn, in viewport coordinates; empty when none is on screen.
    QRect caretRect() const;
    // The character nearest to the viewport point.
    qsizetype characterIndexForPoint(const QPoint& point) const;
    // Scrolls as little as needed to show the range (its start when it is taller than the view).
    void scrollRangeToVisible(TextRange range);
    // The caret's rectangle at the position, in viewport coordinates, the lines around it laid out.
    QRect caretRectForPosition(qsizetype position);
    // Scrolls the position's line to `y` in the viewport.
    void scrollPositionToY(qsizetype position, int y);
    // A yellow mark over the range that fades after about a second; an empty range hides it.
    void showFindIndicatorForRange(TextRange range);
    TextRange findIndicatorRange() const { return findIndicator_; }
    double findIndicatorAlpha() const { return findIndicatorAlpha_; }
    void setFindIndicatorAlpha(double alpha);

    bool validateMenuItem(MenuItem& item) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool textViewShouldChangeTextInRanges(TextView& view, const QList<TextRange>& ranges,
                                          const QStringList& replacementStrings) override;
    // Hears of every pass of the storage after the base has mirrored it.
    class StorageWatch : public ::TextStorageObserver {
    public:
        explicit StorageWatch(NoteTextView& view) : view_(view) {}
        void textStorageDidProcessEditing(TextStorage&, int editedMask, TextRange, qsizetype) override
        {
            view_.storageDidProcessEditing(editedMask);
        }

    private:
        NoteTextView& view_;
    };
    void storageDidProcessEditing(int editedMask);
    static bool isShiftTab(const QKeyEvent& event);
    void addActions();
    void cut();
    // Makes the step's replacements in the storage, outside the change hook.
    void replay(const UndoHistory::Step& step, bool backwards);
    void restartCaretBlink();
    void updateCaret();

    StorageWatch watch_{*this};
    TextViewDelegate* changeDelegate_ = nullptr;
    NoteTextViewDelegate* noteDelegate_ = nullptr;
    UndoHistory history_;
    // The storage pass expected next is one this view recorded (or replays).
    bool expectingRecordedPass_ = false;
    qsizetype recordedChanges_ = 0;

    QColor caretColor_ = Qt::black;
    QTimer caretBlink_;
    bool caretOn_ = true;
    QRect lastCaretRect_;

    QString pressedAnchor_;
    QPoint pressPoint_;

    TextRange findIndicator_{0, 0};
    double findIndicatorAlpha_ = 0;
    DispatchHandle findIndicatorHold_;
};
