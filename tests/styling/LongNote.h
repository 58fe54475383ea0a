#pragma once

#include "Styling/MarkdownTextStorage.h"

#include <QRandomGenerator>
#include <QStringList>

// Seeded lines of every kind, twice the length a change is styled in at once.
inline QString longNote(quint32 seed)
{
    const QStringList pieces = {"# ", "**bold** ", "*it* ", "~~x~~ ", "`code` ", "- ", "- [ ] ", "#tag ", "@who ",
                                "> ", "1. ", "word ", "http://x.y/z ", "&lt; "};
    QRandomGenerator random(seed);
    QString text;
    while (text.size() < MarkdownTextStorage::StyledAtOnce * 2) {
        for (int n = random.bounded(1, 10); n > 0; --n)
            text += pieces[random.bounded(int(pieces.size()))];
        text += u'\n';
    }
    return text;
}
