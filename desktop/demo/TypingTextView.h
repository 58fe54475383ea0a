#pragma once

#include "TextView.h"

#include "Typewriter/Typewriter.h"

// A TextView driven by a Typewriter the way the editor drives its view: the view's change hook offers
// each single user change to the engine and lets the engine's own edits pass; the engine's edits take
// the view's ordinary change path. The view keeps no undo, so undo groups are only counted here.
class TypingTextView : public TypewriterTextView, private TextViewDelegate {
public:
    explicit TypingTextView(TextView& view) : view_(view), typewriter_(this) { view_.setDelegate(this); }
    ~TypingTextView() override { view_.setDelegate(nullptr); }

    Typewriter& typewriter() { return typewriter_; }
    TextView& view() { return view_; }

    // A formatting command on the view's selection; the selection it leaves is shown.
    bool runAction(TypewriterAction action)
    {
        TextRange selection = view_.selectedRange();
        const bool done = typewriter_.handleAction(action, &selection);
        view_.setSelectedRange(selection);
        return done;
    }

    const QString& string() const override { return view_.textStorage()->string(); }
    qsizetype length() const override { return view_.textStorage()->length(); }
    QChar characterAtIndex(qsizetype index) const override { return view_.textStorage()->characterAtIndex(index); }
    QString substring(TextRange range) const override { return view_.textStorage()->substring(range); }
    TextRange paragraphRange(TextRange range) const override { return view_.textStorage()->paragraphRange(range); }
    AttributedString attributedString() const override { return view_.textStorage()->attributedString(); }
    void setString(const QString& string) override
    {
        view_.textStorage()->replaceCharacters({0, view_.textStorage()->length()}, string);
    }
    void insertText(const QString& text, TextRange replacementRange) override
    {
        edits += 1;
        editsOutsideGroups += groupDepth == 0;
        view_.changeTextInRanges({replacementRange}, {text});
    }
    void beginUndoGroup() override
    {
        undoGroups += 1;
        groupDepth += 1;
    }
    void endUndoGroup() override { groupDepth -= 1; }

    int undoGroups = 0;
    int groupDepth = 0;
    int edits = 0;
    int editsOutsideGroups = 0;

private:
    bool textViewShouldChangeTextInRanges(TextView& view, const QList<TextRange>& ranges,
                                          const QStringList& replacementStrings) override
    {
        if (typewriter_.isEditingText() || ranges.size() != 1)
            return true;
        TextRange range = ranges.first();
        if (!typewriter_.handleChangeTextInRange(&range, replacementStrings.first()))
            return true;
        view.setSelectedRange(range);
        return false;
    }

    TextView& view_;
    Typewriter typewriter_;
};
