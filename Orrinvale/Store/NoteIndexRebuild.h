#pragma once

#include "Note.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// Brings every note of the inbox, then of the archive, whose index marker is
// missing or no longer matches its text file into the tag folders, the
// search table, its header and meta file, a batch at a time: the
// rows of one batch go in as one transaction, and the markers of the rows
// that went in follow. Between batches the caller's queue is free for other
// work. A missing or unreadable document folder ends the whole run.
// The tag folders are read once per run, so that each note visits only the
// folders holding its links. The first step also clears what interrupted work
// left: save temporaries, old purged notes, and the rows, side files and tag
// links of notes whose file is gone. Only regular files are read as notes.
class NoteIndexRebuild {
public:
    explicit NoteIndexRebuild(int batchSize = 250);

    // Indexes the next batch; false once the run is over.
    bool step();

private:
    bool openNextStorage();
    // True when the name is a note whose marker does not match its file.
    bool needsIndexing(const QString& name) const;
    // Rows of the storage whose file is gone, with their side files and links.
    void removeGhosts();
    // Which tag folders hold a link of each note, and which folders a full
    // pass would tidy away (no links left, or an empty storage folder).
    void readTagFolders();
    Note::LinkedTags linkedTags(const QString& name);

    int batchSize_;
    int storage_ = 0;
    bool done_ = false;
    QStringList names_;
    qsizetype next_ = 0;
    QSet<QString> indexed_;
    bool tidied_ = false;
    // Search keys of every row, read at the first storage.
    QSet<QString> rowKeys_;
    bool tagFoldersRead_ = false;
    // By storage folder name and key ("Inbox/Plan.txt").
    QHash<QString, Note::LinkedTags> linked_;
    Note::LinkedTags untidy_;
};
