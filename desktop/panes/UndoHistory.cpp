#include "panes/UndoHistory.h"

namespace {

// A character typed or removed by one key: one unit, a surrogate pair, or a CR LF.
bool isSingleCharacter(const QString& text)
{
    return text.size() == 1 || (text.size() == 2 && (text[0].isHighSurrogate() || text == u"\r\n"));
}

} // namespace

void UndoHistory::record(TextReplacement replacement)
{
    if (replacement.oldText.isEmpty() && replacement.newText.isEmpty())
        return;
    redo_.clear();
    if (groupDepth_ > 0) {
        if (!groupHasStep_)
            undo_.emplace_back();
        groupHasStep_ = true;
        undo_.back().push_back(std::move(replacement));
        return;
    }
    if (extendRun(replacement))
        return;
    const bool inserting = replacement.oldText.isEmpty() && isSingleCharacter(replacement.newText);
    const bool deleting = replacement.newText.isEmpty() && isSingleCharacter(replacement.oldText);
    // Typing over a selection starts a run too: the next characters follow its new text.
    const bool typingOver = !replacement.oldText.isEmpty() && isSingleCharacter(replacement.newText);
    run_ = inserting || typingOver ? Run::Inserting : deleting ? Run::Deleting : Run::None;
    undo_.push_back({std::move(replacement)});
}

bool UndoHistory::extendRun(const TextReplacement& replacement)
{
    if (run_ == Run::None || undo_.empty())
        return false;
    TextReplacement& last = undo_.back().back();
    if (run_ == Run::Inserting && replacement.oldText.isEmpty() && isSingleCharacter(replacement.newText) &&
        replacement.location == last.location + last.newText.size()) {
        last.newText += replacement.newText;
        return true;
    }
    if (run_ == Run::Deleting && replacement.newText.isEmpty() && isSingleCharacter(replacement.oldText)) {
        if (replacement.location + replacement.oldText.size() == last.location) { // Backspace
            last.location = replacement.location;
            last.oldText.prepend(replacement.oldText);
            return true;
        }
        if (replacement.location == last.location) { // forward delete
            last.oldText += replacement.oldText;
            return true;
        }
    }
    return false;
}

void UndoHistory::beginGroup()
{
    if (groupDepth_++ == 0) {
        groupHasStep_ = false;
        run_ = Run::None;
    }
}

void UndoHistory::endGroup()
{
    if (groupDepth_ > 0 && --groupDepth_ == 0)
        run_ = Run::None;
}

void UndoHistory::clear()
{
    undo_.clear();
    redo_.clear();
    run_ = Run::None;
    groupHasStep_ = false;
}

UndoHistory::Step UndoHistory::undo()
{
    return moveLast(undo_, redo_);
}

UndoHistory::Step UndoHistory::redo()
{
    return moveLast(redo_, undo_);
}

UndoHistory::Step UndoHistory::moveLast(std::vector<Step>& from, std::vector<Step>& to)
{
    run_ = Run::None;
    if (from.empty())
        return {};
    to.push_back(std::move(from.back()));
    from.pop_back();
    return to.back();
}

qsizetype UndoHistory::size(const Step& step)
{
    qsizetype total = 0;
    for (const TextReplacement& r : step)
        total += r.oldText.size() + r.newText.size();
    return total;
}
