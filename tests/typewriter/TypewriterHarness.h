#pragma once

#include "Styling/MarkdownTextStorage.h"
#include "TextView.h"
#include "Typewriter/Typewriter.h"
#include "demo/TypingTextView.h"

#include <gtest/gtest.h>

#include <QString>

#include <functional>
#include <memory>

// One engine in either of its two modes: on its own string, or driving a styled text view through the
// view's change hook. Texts are written with "|" for the caret, or "‹" and "›" around a selection.
enum class Mode { Store, View };

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline std::string modeName(const testing::TestParamInfo<Mode>& info)
{
    return info.param == Mode::Store ? "Store" : "View";
}

struct Marked {
    QString text;
    TextRange selection;
};

inline Marked unmark(const QString& marked)
{
    Marked result{marked, {}};
    const qsizetype caret = marked.indexOf(u'|');
    if (caret >= 0) {
        result.text.remove(caret, 1);
        result.selection = {caret, 0};
        return result;
    }
    const qsizetype open = marked.indexOf(u'‹');
    const qsizetype close = marked.indexOf(u'›');
    result.text.remove(close, 1).remove(open, 1);
    result.selection = {open, close - open - 1};
    return result;
}

inline QString mark(const QString& text, TextRange selection)
{
    if (selection.length == 0)
        return QString(text).insert(selection.location, u'|');
    return QString(text).insert(selection.end(), u'›').insert(selection.location, u'‹');
}

class Harness {
public:
    explicit Harness(Mode mode)
    {
        if (mode == Mode::View) {
            view_ = std::make_unique<TextView>();
            view_->setTextStorage(&storage_);
            typing_ = std::make_unique<TypingTextView>(*view_);
        } else {
            own_ = std::make_unique<Typewriter>();
        }
    }

    Typewriter& typewriter() { return typing_ ? typing_->typewriter() : *own_; }
    TypingTextView* typing() { return typing_.get(); }

    void load(const QString& marked)
    {
        const Marked m = unmark(marked);
        typewriter().setText(m.text);
        select(m.selection);
    }
    QString marked() { return mark(typewriter().text(), selection()); }

    TextRange selection() const { return view_ ? view_->selectedRange() : selection_; }
    void select(TextRange range)
    {
        if (view_)
            view_->setSelectedRange(range);
        selection_ = range;
    }

    // One keystroke at the selection ("\b" deletes backwards); answers whether the engine made it.
    bool key(const QString& key)
    {
        TextRange range = selection();
        QString text = key;
        if (key == u"\b") {
            text.clear();
            if (range.length == 0)
                range = {range.location - 1, 1};
        }
        if (view_) {
            const qsizetype before = typing_->edits;
            view_->changeTextInRanges({range}, {text});
            return typing_->edits > before;
        }
        if (typewriter().handleChangeTextInRange(&range, text)) {
            selection_ = range;
            return true;
        }
        typewriter().replaceRange(range, text);  // what a view does with a declined change
        selection_ = {range.location + text.size(), 0};
        return false;
    }
    bool keys(const QString& sequence)
    {
        bool handled = false;
        for (QChar c : sequence)
            handled = key(QString(c));
        return handled;
    }

    // An engine operation on the selection, which then shows the selection the operation leaves.
    bool apply(const std::function<bool(Typewriter&, TextRange*)>& operation)
    {
        TextRange range = selection();
        const bool done = operation(typewriter(), &range);
        select(range);
        return done;
    }

    bool action(TypewriterAction action)
    {
        if (typing_)
            return typing_->runAction(action);
        return typewriter().handleAction(action, &selection_);
    }

private:
    MarkdownTextStorage storage_;
    std::unique_ptr<TextView> view_;
    std::unique_ptr<TypingTextView> typing_;
    std::unique_ptr<Typewriter> own_;
    TextRange selection_;
};
