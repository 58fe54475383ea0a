#pragma once

#include "text/TextRange.h"

#include <QString>

class Typewriter;

// Told about link clicks and caret-line changes. The suggestion and calculator questions are part of the
// protocol but never asked; their defaults answer NO and do nothing.
class TypewriterDelegate {
public:
    virtual ~TypewriterDelegate() = default;

    virtual bool typewriterHandleTapEmail(Typewriter&, const QString& /*address*/) { return false; }
    virtual bool typewriterHandleTapLink(Typewriter&, const QString& /*link*/) { return false; }
    // The range is the check box's one-character mark.
    virtual void typewriterDidTapToCompletedCheckbox(Typewriter&, TextRange /*mark*/) {}
    virtual void typewriterDidTapToUncompletedCheckbox(Typewriter&, TextRange /*mark*/) {}
    virtual void typewriterCaretDidChangeLine(Typewriter&) {}

    virtual bool typewriterShouldParseMathExpression(Typewriter&) { return false; }
    virtual bool typewriterShouldSuggestCapitalize(Typewriter&) { return false; }
    virtual void typewriterDidSuggestCapitalize(Typewriter&, const QString& /*word*/) {}
    virtual bool typewriterShouldSuggestWord(Typewriter&) { return false; }
    virtual void typewriterDidSuggestWord(Typewriter&, const QString& /*word*/, int64_t /*options*/) {}
    virtual void typewriterDidSuggestWordStartsWith(Typewriter&, const QString& /*prefix*/, int64_t /*options*/,
                                                    int64_t /*count*/) {}
};
