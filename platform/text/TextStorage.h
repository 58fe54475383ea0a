#pragma once

#include "text/AttributedString.h"

#include <vector>

class TextStorage;

// Told once per editing pass, after the storage has processed it, with
// everything the pass changed (edits made while processing included).
class TextStorageObserver {
public:
    virtual ~TextStorageObserver() = default;
    virtual void textStorageDidProcessEditing(TextStorage& storage, int editedMask, TextRange editedRange,
                                              qsizetype changeInLength) = 0;
};

// An attributed text with the editing protocol of a text system: every change
// is reported with edited(); outside beginEditing()/endEditing() each change
// is processed at once, inside them once at the outermost endEditing().
// Processing calls processEditing(), where a subclass may change attributes
// (even characters): those changes are folded into the same pass instead of
// starting another, and observers hear of the whole pass once.
class TextStorage {
public:
    enum EditedMask {
        EditedAttributes = 1,
        EditedCharacters = 2,
    };

    TextStorage() = default;
    virtual ~TextStorage() = default;
    TextStorage(const TextStorage&) = delete;
    TextStorage& operator=(const TextStorage&) = delete;

    const QString& string() const { return text_.string(); }
    qsizetype length() const { return text_.length(); }
    QChar characterAtIndex(qsizetype index) const { return text_.characterAtIndex(index); }
    QString substring(TextRange range) const { return text_.substring(range); }
    TextRange paragraphRange(TextRange range) const { return text_.paragraphRange(range); }
    const AttributedString& attributedString() const { return text_; }
    // The reference stays valid until the next change.
    const TextAttributes& attributesAtIndex(qsizetype index, TextRange* effectiveRange = nullptr) const
    {
        return text_.attributesAtIndex(index, effectiveRange);
    }
    // The units from the start whose attributes processing has settled: a storage that processes a
    // long change a slice at a time tells how far it got.
    virtual qsizetype processedLength() const { return length(); }

    // Ranges past the end are clipped to the text.
    void replaceCharacters(TextRange range, const QString& string);
    void setAttributes(const TextAttributes& attributes, TextRange range);
    void setAttributeRuns(TextRange range, std::span<const AttributedString::AttributeRun> runs);
    void addAttributes(const TextAttributes& attributes, TextRange range);
    void removeAttributes(TextAttributes::Keys keys, TextRange range);

    void beginEditing();
    void endEditing();
    // Records a change: `range` is the range before the change, `changeInLength`
    // the new length minus the old.
    void edited(int mask, TextRange range, qsizetype changeInLength);

    // The pass being processed: what changed, where (in the current text), by how much.
    int editedMask() const { return editedMask_; }
    TextRange editedRange() const { return editedRange_; }
    qsizetype changeInLength() const { return changeInLength_; }

    void addObserver(TextStorageObserver* observer);
    void removeObserver(TextStorageObserver* observer);

protected:
    // Runs once per pass before the observers hear of it; the base does nothing.
    virtual void processEditing() {}

private:
    void processPendingEdits();

    AttributedString text_;
    int editingDepth_ = 0;
    bool processing_ = false;
    int editedMask_ = 0;
    TextRange editedRange_;
    qsizetype changeInLength_ = 0;
    std::vector<TextStorageObserver*> observers_;
};
