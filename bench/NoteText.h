#pragma once

#include <QRandomGenerator>
#include <QString>

// A seeded note of the lines a note-taker writes, `units` UTF-16 units long: the text the styling and
// the editor benchmarks measure.
inline QString note(qsizetype units, quint32 seed)
{
    static const char* const words[] = {"plan", "meeting", "draft", "review", "notes", "idea", "budget", "call",
                                        "report", "weekly", "design", "tasks", "garden", "travel", "book", "café"};
    static const char* const decorations[] = {"**%1**", "*%1*", "`%1`", "~~%1~~", "#%1", "@%1",
                                              "[%1](https://example.com/%1)", "https://example.org/%1", "%1@example.com"};
    static const char* const prefixes[] = {"", "", "", "", "# ", "## ", "- ", "- [ ] ", "- [x] ", "1. ", "> "};
    QRandomGenerator random(seed);
    QString text;
    text.reserve(units + 200);
    while (text.size() < units) {
        QString line = QString::fromUtf8(prefixes[random.bounded(int(std::size(prefixes)))]);
        const int count = random.bounded(4, 16);
        for (int w = 0; w < count; ++w) {
            const QString word = QString::fromUtf8(words[random.bounded(int(std::size(words)))]);
            if (random.bounded(5) == 0)
                line += QString::fromUtf8(decorations[random.bounded(int(std::size(decorations)))]).arg(word);
            else
                line += word;
            line += u' ';
        }
        text += line.trimmed() + u'\n';
        if (random.bounded(6) == 0)
            text += u'\n';
    }
    text.truncate(units);
    return text;
}

// A note of one line of `tags` seeded hashtags, 8 units each with the space after it: the longest
// line a note-taker's tags make, which the editor must not lay out whole for every paint or key.
inline QString oneLineNote(int tags, quint32 seed)
{
    QRandomGenerator random(seed);
    QString text;
    text.reserve(qsizetype(tags) * 8);
    for (int i = 0; i < tags; ++i)
        text += QStringLiteral("#t%1 ").arg(random.bounded(100000), 5, 10, QChar(u'0'));
    text.chop(1);
    return text;
}
