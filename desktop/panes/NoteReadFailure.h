#pragma once

#include "Store/Note.h"

#include "Error.h"

#include <QUrl>

// Why the note's text file could not be read just now; empty after a good read. The editor shows
// such a note read-only. A text that came back empty is read once more to tell an empty file from a
// failed read. File queue.
inline QString noteReadFailure(const Note& note)
{
    if (!note.text().isEmpty())
        return {};
    Error error;
    Note::newTextFromURL(QUrl::fromLocalFile(Note::documentFileForKey(note.key(), note.storage())), &error);
    return error.isNull() ? QString() : error.localizedDescription();
}
