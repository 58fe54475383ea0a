#include "text/TextStorage.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

struct Pass {
    int mask;
    TextRange range;
    qsizetype change;
    QString text;
};

struct Recorder : TextStorageObserver {
    std::vector<Pass> passes;
    std::function<void(TextStorage&)> onPass;
    void textStorageDidProcessEditing(TextStorage& storage, int mask, TextRange range, qsizetype change) override
    {
        passes.push_back({mask, range, change, storage.string()});
        if (onPass)
            onPass(storage);
    }
};

// Marks every paragraph an edit touched, as a styling storage would.
class MarkingStorage : public TextStorage {
public:
    int processed = 0;
    bool marking = true;
    std::vector<TextRange> seen;

protected:
    void processEditing() override
    {
        TextStorage::processEditing();
        ++processed;
        seen.push_back(editedRange());
        if (!marking)
            return;
        const TextRange lines = paragraphRangeForRange(string(), editedRange());
        TextAttributes marked;
        marked.underlineStyle = 1;
        addAttributes(marked, lines);
    }
};

TextAttributes colored(uint32_t rgba)
{
    TextAttributes attributes;
    attributes.foregroundColor = Color::fromHex(rgba);
    return attributes;
}

} // namespace

TEST(Text, StorageProcessesEachEditOutsideAnEditingBlock)
{
    TextStorage storage;
    Recorder recorder;
    storage.addObserver(&recorder);
    storage.replaceCharacters({0, 0}, QStringLiteral("hello world"));
    storage.addAttributes(colored(0x123456ff), {6, 5});
    storage.replaceCharacters({0, 5}, QStringLiteral("hi"));
    storage.replaceCharacters({2, 0}, QString()); // an empty replacement still is an edit

    ASSERT_EQ(recorder.passes.size(), 4u);
    EXPECT_EQ(recorder.passes[0].mask, TextStorage::EditedCharacters);
    EXPECT_EQ(recorder.passes[0].range, (TextRange{0, 11}));
    EXPECT_EQ(recorder.passes[0].change, 11);
    EXPECT_EQ(recorder.passes[1].mask, TextStorage::EditedAttributes);
    EXPECT_EQ(recorder.passes[1].range, (TextRange{6, 5}));
    EXPECT_EQ(recorder.passes[1].change, 0);
    EXPECT_EQ(recorder.passes[2].range, (TextRange{0, 2}));
    EXPECT_EQ(recorder.passes[2].change, -3);
    EXPECT_EQ(recorder.passes[3].range, (TextRange{2, 0}));
    EXPECT_EQ(storage.string(), QStringLiteral("hi world"));
    EXPECT_EQ(storage.attributesAtIndex(3), colored(0x123456ff));

    storage.removeObserver(&recorder);
    storage.replaceCharacters({0, 0}, QStringLiteral("x"));
    EXPECT_EQ(recorder.passes.size(), 4u);
}

TEST(Text, StorageBatchesEditsBetweenBeginAndEnd)
{
    TextStorage storage;
    storage.replaceCharacters({0, 0}, QStringLiteral("0123456789abcdef"));
    Recorder recorder;
    storage.addObserver(&recorder);

    storage.beginEditing();
    storage.beginEditing();
    storage.replaceCharacters({10, 2}, QStringLiteral("ABCDE")); // "0123456789ABCDEcdef", pending {10, 5}
    storage.replaceCharacters({2, 3}, QString());              // "0156789ABCDEcdef", pending {2, 10}
    storage.endEditing();
    EXPECT_TRUE(recorder.passes.empty()) << "the inner end does not process";
    storage.addAttributes(colored(0xff0000ff), {14, 1});       // beyond the pending range: {2, 13}
    storage.replaceCharacters({0, 1}, QStringLiteral("zz"));   // before it: shifts by one, {0, 16}
    storage.endEditing();
    storage.endEditing(); // unbalanced: ignored

    ASSERT_EQ(recorder.passes.size(), 1u);
    const Pass& pass = recorder.passes[0];
    EXPECT_EQ(pass.text, QStringLiteral("zz156789ABCDEcdef"));
    EXPECT_EQ(pass.mask, TextStorage::EditedCharacters | TextStorage::EditedAttributes);
    EXPECT_EQ(pass.range, (TextRange{0, 16}));
    EXPECT_EQ(pass.change, 1);
}

TEST(Text, StorageEditsInsideThePendingRangeKeepItsBounds)
{
    TextStorage storage;
    storage.replaceCharacters({0, 0}, QStringLiteral("abcdefghij"));
    Recorder recorder;
    storage.addObserver(&recorder);
    storage.beginEditing();
    storage.replaceCharacters({2, 6}, QStringLiteral("XY"));  // "abXYij", {2, 2}
    storage.replaceCharacters({3, 2}, QStringLiteral("1234")); // overlaps the end: "abX1234j", {2, 5}
    storage.replaceCharacters({0, 3}, QString());             // swallows its start: "1234j", {0, 4}
    storage.endEditing();
    ASSERT_EQ(recorder.passes.size(), 1u);
    EXPECT_EQ(recorder.passes[0].text, QStringLiteral("1234j"));
    EXPECT_EQ(recorder.passes[0].range, (TextRange{0, 4}));
    EXPECT_EQ(recorder.passes[0].change, -5);
}

TEST(Text, StorageFoldsEditsMadeWhileProcessing)
{
    MarkingStorage storage;
    Recorder recorder;
    storage.addObserver(&recorder);
    storage.replaceCharacters({0, 0}, QStringLiteral("one\ntwo\nthree"));
    ASSERT_EQ(storage.processed, 1);
    ASSERT_EQ(recorder.passes.size(), 1u);
    EXPECT_EQ(recorder.passes[0].mask, TextStorage::EditedCharacters | TextStorage::EditedAttributes);
    EXPECT_EQ(recorder.passes[0].range, (TextRange{0, 13}));

    storage.marking = false;
    storage.setAttributes({}, {0, storage.length()});
    storage.marking = true;
    recorder.passes.clear();
    storage.replaceCharacters({5, 0}, QStringLiteral("w"));
    EXPECT_EQ(storage.processed, 3) << "the storage's own edits start no pass of their own";
    ASSERT_EQ(recorder.passes.size(), 1u);
    EXPECT_EQ(storage.seen.back(), (TextRange{5, 1}));
    EXPECT_EQ(recorder.passes[0].range, (TextRange{4, 5})) << "the restyled line is reported";
    EXPECT_EQ(recorder.passes[0].change, 1);
    TextRange marked;
    EXPECT_EQ(storage.attributesAtIndex(6, &marked).underlineStyle, 1);
    EXPECT_EQ(marked, (TextRange{4, 5}));
    EXPECT_FALSE(storage.attributesAtIndex(3).underlineStyle.has_value());
}

TEST(Text, StorageObserverEditsStartTheNextPassAfterEveryoneHeard)
{
    TextStorage storage;
    Recorder first;
    Recorder second;
    storage.addObserver(&first);
    storage.addObserver(&second);
    first.onPass = [&](TextStorage& s) {
        if (s.string() == QStringLiteral("a"))
            s.replaceCharacters({1, 0}, QStringLiteral("b"));
    };
    storage.replaceCharacters({0, 0}, QStringLiteral("a"));
    ASSERT_EQ(second.passes.size(), 2u);
    EXPECT_EQ(second.passes[0].text, QStringLiteral("ab")) << "second hears the first pass after first's edit";
    EXPECT_EQ(second.passes[0].range, (TextRange{0, 1}));
    EXPECT_EQ(second.passes[1].range, (TextRange{1, 1}));
    EXPECT_EQ(first.passes.size(), 2u);
}

// A long text is kept in chunks once edited: what processing and the observers read of it, whole or
// in part, is the text after the edit.
TEST(Text, StorageReadersSeeEachEditOfALongText)
{
    struct Edit {
        const char* name;
        TextRange range;
        QString replacement;
    };
    QString model;
    for (int line = 0; model.size() < 100000; ++line)
        model += QStringLiteral("line %1 of a long note\n").arg(line);
    const Edit edits[] = {
        {"typed in the middle", {50000, 0}, "x"},
        {"a line end typed", {50010, 0}, "\r\n"},
        {"pasted near the start", {7, 3}, QString(9000, QChar(u'p'))},
        {"cut across many lines", {20000, 30000}, ""},
        {"typed at the end", {model.size() - 1, 0}, "!"},
    };
    MarkingStorage storage;
    storage.replaceCharacters({0, 0}, model);
    Recorder recorder;
    std::vector<QString> linesSeen;
    recorder.onPass = [&](TextStorage& s) {
        linesSeen.push_back(s.substring(s.paragraphRange(recorder.passes.back().range)));
    };
    storage.addObserver(&recorder);
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.name);
        const TextRange range{std::min(edit.range.location, model.size()), edit.range.length};
        storage.replaceCharacters(range, edit.replacement);
        model.replace(range.location, range.length, edit.replacement);

        ASSERT_FALSE(recorder.passes.empty());
        EXPECT_EQ(recorder.passes.back().text, model);
        const TextRange lines = paragraphRangeForRange(model, {range.location, edit.replacement.size()});
        EXPECT_EQ(recorder.passes.back().range, lines);
        EXPECT_EQ(linesSeen.back(), model.mid(lines.location, lines.length));
        EXPECT_EQ(storage.seen.back(), (TextRange{range.location, edit.replacement.size()}));
        // Processing marked the lines it was told of, in the text as edited.
        EXPECT_EQ(storage.attributesAtIndex(lines.location).underlineStyle, 1);
        EXPECT_EQ(storage.attributesAtIndex(lines.end() - 1).underlineStyle, 1);
        EXPECT_EQ(storage.length(), model.size());
    }
}
