#pragma once

#include "Typewriter/TypewriterText.h"

#include "text/AttributedString.h"
#include "text/TextRange.h"

#include <QString>

// The text view the engine edits: the editor implements it on its view. Every engine edit arrives through
// insertText() while the engine's isEditingText() is true, so the view's owner lets it pass its change
// hook unasked; the edits of one keystroke or command come between beginUndoGroup() and endUndoGroup().
class TypewriterTextView {
public:
    virtual ~TypewriterTextView() = default;

    // Valid until the next change of the text.
    virtual const QString& string() const = 0;
    // The text with its styling; a view that styles nothing gives it plain.
    virtual AttributedString attributedString() const { return AttributedString(string()); }
    // Reads of a part of the text, which the engine makes on every keystroke: a view over a long text
    // answers them without taking all of it. These read string().
    virtual qsizetype length() const { return string().size(); }
    // QChar() outside the text.
    virtual QChar characterAtIndex(qsizetype index) const
    {
        return index >= 0 && index < length() ? string()[index] : QChar();
    }
    // Clipped to the text.
    virtual QString substring(TextRange range) const
    {
        range = TypewriterText::clipped(range, length());
        return string().mid(range.location, range.length);
    }
    // The whole lines around the range, as paragraphRangeForRange() finds them.
    virtual TextRange paragraphRange(TextRange range) const { return paragraphRangeForRange(string(), range); }
    // Replaces the whole text (another note, a remote update).
    virtual void setString(const QString& string) = 0;
    // Replaces the range as an ordinary edit that passes the owner's change hook.
    virtual void insertText(const QString& text, TextRange replacementRange) = 0;
    virtual void beginUndoGroup() = 0;
    virtual void endUndoGroup() = 0;
};
