#pragma once

#include "Typewriter/EditBatch.h"
#include "Typewriter/LineParser.h"
#include "Typewriter/TypewriterAction.h"
#include "Typewriter/TypewriterDelegate.h"
#include "Typewriter/TypewriterState.h"
#include "Typewriter/TypewriterSuggestOption.h"
#include "Typewriter/TypewriterTextView.h"

#include "text/AttributedString.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class Calculator;

// The editing engine behind the editor. It takes over the keystrokes that continue Markdown structure
// (Return on list and quote lines, Tab on list items, Backspace right after a prefix it inserted, "["
// then "]"), answers link clicks, and carries out the formatting commands as Markdown text edits.
// It edits a text view when it has one, else a string of its own. The edits of one keystroke or
// command reach the text as one replacement inside one undo group. Positions are UTF-16 indices; a
// selection is passed by pointer and left holding the selection to show. Main thread only.
class Typewriter {
public:
    Typewriter();
    // The view is not owned and must outlive the engine.
    explicit Typewriter(TypewriterTextView* textView);
    Typewriter(const Typewriter&) = delete; // the parser reads through this one
    Typewriter& operator=(const Typewriter&) = delete;

    void setDelegate(TypewriterDelegate* delegate) { delegate_ = delegate; }
    TypewriterDelegate* delegate() const { return delegate_; }
    TypewriterTextView* textView() const { return textView_; }
    // What Add link reads as the pasteboard's text; without one the pasteboard reads empty.
    void setPasteboardReader(std::function<QString()> reader) { pasteboard_ = std::move(reader); }
    // Kept for whoever wants one; the engine itself never calculates.
    std::shared_ptr<Calculator> calculator() const { return calculator_; }
    void setCalculator(std::shared_ptr<Calculator> calculator) { calculator_ = std::move(calculator); }

    QString text() const { return base(); }
    QString textForSaving() const { return base(); }
    // The text with the view's styling; the engine's own string has none.
    AttributedString attributedText() const;
    // Clipped to the text.
    QString substringWithRange(TextRange range) const;
    // Replaces the whole text and forgets the typing state.
    void setText(const QString& text);
    // True while the engine writes into the view: the view's owner lets those changes pass unasked.
    bool isEditingText() const { return editingText_; }
    TypewriterState state() const { return state_; }
    // Forgets the typing state (the text was changed around the engine, by an undo say).
    void resetState();
    TextRange typeStateRange() const { return typeStateRange_; }

    // Editing primitives. Ranges past the end are clipped to the text. The cursor forms move both ends
    // of the selection as the text moves; at the edit's own position afterCursor leaves a caret in front
    // of the new text, beforeCursor puts it after.
    void replaceRange(TextRange range, const QString& text);
    void replaceRangeAfterCursor(TextRange range, const QString& text, TextRange* selection);
    void replaceRangeBeforeCursor(TextRange range, const QString& text, TextRange* selection);
    // Replaces the range and leaves a caret after the new text.
    void type(const QString& text, TextRange* range);
    // The lines of the range from the last to the first, each without its terminator, with its content
    // (the line without leading and trailing blanks and tabs). Edits to the visited line keep the lines
    // still to come where they were.
    using LineContentBlock = std::function<void(TextRange line, TextRange content, bool* stop)>;
    void reverseEnumerateLineContent(TextRange range, const LineContentBlock& block);
    // Line 1 (and anything below) is the first line; past the last line, an empty range at the end.
    TextRange lineRangeForLineNumber(qsizetype number) const;

    // A user's change about to be made to the view. True: the engine made a change itself (perhaps
    // another one) and the range holds the selection to show. False: the view makes the user's change.
    bool handleChangeTextInRange(TextRange* range, const QString& text);
    // Completes (or reopens) every check box of the range's lines, of the caret's line for a caret.
    bool setCheckboxCompleted(bool completed, TextRange range);
    bool handleLink(const QString& link, qsizetype index);

    // Text put in as if typed: offered to handleChangeTextInRange(), else replacing the range with a caret
    // after it.
    void write(const QString& text, TextRange* range);
    // The extra key row, buttons 0 to 16: Tab, "#", ";", ":", "*", "/", double quotes, square brackets,
    // parentheses, "-", "+", "@", "<", ">", "?", ",", "'". Quotes and brackets wrap a selection and
    // otherwise open after a blank, a line start or another opening, else close. False, changing nothing,
    // for any other button.
    bool handleButton(int64_t button, TextRange* range);
    // Wraps a selection in "*" and keeps the wrapped text selected, so that a Backspace straight after
    // unwraps it again; a caret just types "*".
    bool handleAsteriskInRange(TextRange* range);
    // Puts a suggested word in place of the range, caret after it, tidying the text around it as the
    // TypewriterSuggestOption flags ask. False, changing nothing, for an empty word.
    bool handleSuggestWord(const QString& word, int64_t options, TextRange* range);
    // Suggestions are never offered, so there is nothing to reload.
    void reloadSuggestInRange(TextRange* /*range*/) {}
    void reloadSuggestInRange(TextRange* /*range*/, const QString& /*afterText*/) {}

    // Runs one formatting command on the selection; false, changing nothing, for a command it lacks.
    bool handleAction(TypewriterAction action, TextRange* selection);
    // Removing a to-do box takes its list marker along.
    bool shouldRemoveCheckboxAlongWithListMarker() const { return true; }

private:
    struct Line {
        TextRange line;
        TextRange content;
    };
    // Keeps the edits made while it lives in one batch; the outermost one makes them and closes the
    // undo group.
    class EditSession {
    public:
        explicit EditSession(Typewriter& typewriter);
        ~EditSession();
        EditSession(const EditSession&) = delete;
        EditSession& operator=(const EditSession&) = delete;

    private:
        Typewriter& typewriter_;
    };

    // The engine's own text, edited like a view's when it has none.
    class OwnText : public TypewriterTextView {
    public:
        const QString& string() const override { return text_; }
        void setString(const QString& string) override { text_ = string; }
        void insertText(const QString& text, TextRange range) override
        {
            text_.replace(range.location, range.length, text);
        }
        void beginUndoGroup() override {}
        void endUndoGroup() override {}

    private:
        QString text_;
    };

    TypewriterTextView& view() { return textView_ ? *textView_ : static_cast<TypewriterTextView&>(ownText_); }
    const TypewriterTextView& view() const
    {
        return textView_ ? *textView_ : static_cast<const TypewriterTextView&>(ownText_);
    }
    const QString& base() const { return view().string(); }
    // Makes the held edits that lie before `end`, so that the text up to there is current.
    void settleBefore(qsizetype end);
    // Clips the range to the text and gives what it holds, current.
    QString textOf(TextRange* range);
    // The whole lines around the range, current.
    TextRange currentParagraphs(TextRange range);
    void flush();
    // The range clipped to the text as it will be when the edit joins the batch.
    TextRange editRange(TextRange range);
    void applyEdit(TextRange range, const QString& text);
    void replace(TextRange range, const QString& text, TextRange* selection, bool beforeCursor);
    std::vector<Line> lines(TextRange range);
    static bool hasContent(const std::vector<Line>& lines);

    void enterState(TypewriterState state, TextRange range);
    bool typeStateIsCurrent();
    bool handleDeleteTextInRange(TextRange* range);
    void wrap(TextRange* selection, const QString& open, const QString& close);
    bool handleEnterNewLineInRange(TextRange* range);
    bool handleEnterTabInRange(TextRange* range);
    bool handleCloseSquaredBracketInRange(TextRange* range);
    void caretDidChangeLine();

    bool runAction(TypewriterAction action, TextRange* selection);
    bool handleActionHeading(int level, TextRange* selection);
    bool handleActionEmphasis(TypewriterAction action, TextRange* selection);
    int64_t expandRangeWithEnclosingEmphasis(TextRange* range, int flags);
    bool removeEmphasis(TypewriterAction action, TextRange range, TextRange* selection);
    void addEmphasis(const QString& marker, TextRange range, TextRange* selection);
    // The bullet and the numbered list commands.
    bool toggleListMarkers(bool numbered, TextRange* selection);
    bool handleActionTodoList(TextRange* selection);
    bool handleActionTodoListComplete(TextRange* selection);
    void addTodoBoxes(TextRange paragraphs, TextRange* selection);
    bool replaceCheckboxMarks(TextRange paragraphs, InlineElement mark, const QString& with);
    bool handleActionAddLink(TextRange* selection);
    bool handleActionShiftLeft(TextRange* selection);
    bool handleActionShiftRight(TextRange* selection);

    TypewriterTextView* textView_ = nullptr;
    TypewriterDelegate* delegate_ = nullptr;
    std::function<QString()> pasteboard_;
    std::shared_ptr<Calculator> calculator_;
    OwnText ownText_;
    LineParser parser_{[this](TextRange* range) { return textOf(range); }};
    EditBatch batch_;
    int sessionDepth_ = 0;
    bool undoGroupOpen_ = false;
    bool editingText_ = false;
    bool caretLineChanged_ = false;

    TypewriterState state_ = TypewriterStateIdle;
    TextRange typeStateRange_;
    // What the state's range held and the text's length when the state was entered: a state whose text
    // has changed since (another note, a remote update, an undo) is stale.
    QString typeStateText_;
    qsizetype typeStateTextLength_ = 0;
};
