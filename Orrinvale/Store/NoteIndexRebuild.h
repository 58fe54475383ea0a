#pragma once

#include "Note.h"
#include "NoteSearchRow.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// Brings every note of the inbox, then of the archive, that has no index
// marker into the tag folders and the search table, a batch at a time: the
// rows of one batch go in as one transaction, and the markers of the rows
// that went in follow. Between batches the caller's queue is free for other
// work. A missing or unreadable document folder ends the whole run.
// The tag folders are read once per run, so that each note visits only the
// folders holding its links.
class NoteIndexRebuild {
public:
    explicit NoteIndexRebuild(int batchSize = 250);

    // Indexes the next batch; false once the run is over.
    bool step();

private:
    bool openNextStorage();
    // Which tag folders hold a link of each note, and which folders a full
    // pass would tidy away (no links left, or an empty storage folder).
    void readTagFolders();
    Note::LinkedTags linkedTags(const QString& name);
    QList<bool> writeRows(SLDatabase& db, const QList<NoteSearchRow>& rows);

    int batchSize_;
    int storage_ = 0;
    bool done_ = false;
    QStringList names_;
    qsizetype next_ = 0;
    QSet<QString> indexed_;
    bool tagFoldersRead_ = false;
    // By storage folder name and key ("Inbox/Plan.txt").
    QHash<QString, Note::LinkedTags> linked_;
    Note::LinkedTags untidy_;
    // The table's keys, read once per run; read again only after a write
    // that was not the run's own.
    NoteSearchRow::RowIds rowIds_;
    int64_t changesAfterLastBatch_ = -1;
};
