#include "Typewriter/EditBatch.h"

TextRange EditBatch::span() const
{
    if (edits_.empty())
        return {};
    const qsizetype start = edits_.back().range.location;
    return {start, edits_.front().range.end() - start};
}

QString EditBatch::replacement(const QString& spanText) const
{
    const TextRange whole = span();
    QString result;
    qsizetype size = whole.length;
    for (const Edit& edit : edits_)
        size += edit.text.size() - edit.range.length;
    result.reserve(size);
    qsizetype position = whole.location;
    for (auto edit = edits_.rbegin(); edit != edits_.rend(); ++edit) {
        result.append(QStringView(spanText).sliced(position - whole.location, edit->range.location - position));
        result.append(edit->text);
        position = edit->range.end();
    }
    return result;
}
