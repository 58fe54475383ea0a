#pragma once

#include <QString>

#include <vector>

// One replacement made in a text: at `location`, `oldText` gave way to `newText`.
struct TextReplacement {
    qsizetype location = 0;
    QString oldText;
    QString newText;
};

// The editor's undo and redo steps, kept as the replacements each made. A run of typing (single
// characters inserted one after the other) or of deleting single characters is one step; everything
// recorded inside a group is one step; anything else is a step of its own. Widget-free.
class UndoHistory {
public:
    using Step = std::vector<TextReplacement>;

    void record(TextReplacement replacement);
    // Groups nest; the outermost end closes the step.
    void beginGroup();
    void endGroup();
    // The next typing starts a new step (the caret moved, a command ran).
    void breakRun() { run_ = Run::None; }
    void clear();

    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    // The step to take back, in the order it was made; it moves to the redo side.
    Step undo();
    // The step to make again, in its order; it moves back to the undo side.
    Step redo();

    // Replays a step backwards or forwards through `replace(location, length, text)`.
    template <typename Replace>
    static void revert(const Step& step, Replace&& replace)
    {
        for (auto it = step.rbegin(); it != step.rend(); ++it)
            replace(it->location, it->newText.size(), it->oldText);
    }
    template <typename Replace>
    static void apply(const Step& step, Replace&& replace)
    {
        for (const TextReplacement& r : step)
            replace(r.location, r.oldText.size(), r.newText);
    }
    // What a step changes, counted as the replaced plus the new units.
    static qsizetype size(const Step& step);

private:
    enum class Run { None, Inserting, Deleting };
    // Joins the replacement to the open run when it continues it.
    bool extendRun(const TextReplacement& replacement);
    // Moves the last step of one side to the other and returns it.
    Step moveLast(std::vector<Step>& from, std::vector<Step>& to);

    std::vector<Step> undo_;
    std::vector<Step> redo_;
    int groupDepth_ = 0;
    bool groupHasStep_ = false;
    Run run_ = Run::None;
};
