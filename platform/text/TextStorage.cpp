#include "text/TextStorage.h"

#include <algorithm>

void TextStorage::replaceCharacters(TextRange range, const QString& string)
{
    range = text_.clipped(range);
    text_.replaceCharacters(range, string);
    edited(EditedCharacters, range, string.size() - range.length);
}

void TextStorage::setAttributes(const TextAttributes& attributes, TextRange range)
{
    range = text_.clipped(range);
    text_.setAttributes(attributes, range);
    edited(EditedAttributes, range, 0);
}

void TextStorage::setAttributeRuns(TextRange range, std::span<const AttributedString::AttributeRun> runs)
{
    range = text_.clipped(range);
    text_.setAttributeRuns(range, runs);
    edited(EditedAttributes, range, 0);
}

void TextStorage::addAttributes(const TextAttributes& attributes, TextRange range)
{
    range = text_.clipped(range);
    text_.addAttributes(attributes, range);
    edited(EditedAttributes, range, 0);
}

void TextStorage::removeAttributes(TextAttributes::Keys keys, TextRange range)
{
    range = text_.clipped(range);
    text_.removeAttributes(keys, range);
    edited(EditedAttributes, range, 0);
}

void TextStorage::beginEditing()
{
    ++editingDepth_;
}

void TextStorage::endEditing()
{
    if (editingDepth_ == 0)
        return;
    if (--editingDepth_ == 0 && !processing_)
        processPendingEdits();
}

void TextStorage::edited(int mask, TextRange range, qsizetype changeInLength)
{
    if (mask == 0)
        return;
    const qsizetype newEnd = range.end() + changeInLength;
    if (editedMask_ == 0) {
        editedRange_ = {range.location, newEnd - range.location};
    } else {
        // Carry the pending range through this change, then take the union:
        // positions before the change stay, positions after it shift, and
        // positions inside it map onto the replacement.
        const auto carry = [&](qsizetype position) {
            if (position <= range.location)
                return position;
            if (position >= range.end())
                return position + changeInLength;
            return newEnd;
        };
        const qsizetype start = std::min(carry(editedRange_.location), range.location);
        const qsizetype end = std::max(carry(editedRange_.end()), newEnd);
        editedRange_ = {start, end - start};
    }
    editedMask_ |= mask;
    changeInLength_ += changeInLength;
    if (editingDepth_ == 0 && !processing_)
        processPendingEdits();
}

void TextStorage::processPendingEdits()
{
    // Observers that edit in their callback start another pass, run here
    // after every observer has heard of the current one.
    while (editedMask_ != 0) {
        processing_ = true;
        processEditing();
        const int mask = editedMask_;
        const TextRange range = editedRange_;
        const qsizetype change = changeInLength_;
        editedMask_ = 0;
        editedRange_ = {};
        changeInLength_ = 0;
        const std::vector<TextStorageObserver*> observers = observers_;
        for (TextStorageObserver* observer : observers) {
            if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end())
                observer->textStorageDidProcessEditing(*this, mask, range, change);
        }
        processing_ = false;
    }
}

void TextStorage::addObserver(TextStorageObserver* observer)
{
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void TextStorage::removeObserver(TextStorageObserver* observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}
