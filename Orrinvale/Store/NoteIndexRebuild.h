#pragma once

#include "Note.h"
#include "NoteIndexMarker.h"
#include "NoteSearchRow.h"

#include "Dispatch.h"

#include <QSet>
#include <QString>
#include <QStringList>

// Brings every note of the inbox, then of the archive, whose index marker is
// missing or no longer matches its text file into the tag folders, the
// search table, its header and meta file, a batch at a time. Three queues
// share the work: the caller's reads each note and writes its links, a queue
// of the run's own writes the header and meta files, and the database's
// takes the rows of each half batch in one transaction, followed by the
// markers of the rows that went in. A batch is whole when its step returns;
// between batches the caller's queue is free for other work. A missing or
// unreadable document folder ends the whole run.
// The tag folders are read afresh once per run, so that each note visits
// only the folders holding its links. Only regular files are read as notes.
class NoteIndexRebuild {
public:
    explicit NoteIndexRebuild(int batchSize = 250);
    ~NoteIndexRebuild();
    NoteIndexRebuild(const NoteIndexRebuild&) = delete;
    NoteIndexRebuild& operator=(const NoteIndexRebuild&) = delete;

    // Indexes the next batch; false once the run is over.
    bool step();

private:
    bool openNextStorage();
    // True when the name is a note whose marker does not match its file,
    // whose stamp it gives.
    bool needsIndexing(const QString& name, NoteIndexMarker::Stamp* stamp) const;
    void closeDocumentFolder();
    QList<bool> writeRows(SLDatabase& db, const QList<NoteSearchRow>& rows);
    // Hands the pending rows and their notes to the database's queue.
    void store(NoteServices& core);
    struct Written;
    // Hands notes whose links are written to the records' queue, and with
    // store the rows pending there on to the database's.
    void hand(QList<Written>& written, NoteServices* core, bool store);

    int batchSize_;
    int storage_ = 0;
    bool done_ = false;
    QStringList names_;
    qsizetype next_ = 0;
    QSet<QString> indexed_;
    // The storage's document and marker folders, open while it is indexed;
    // every marker folder stays open until the run ends.
    int documentFolder_ = -1;
    int markerFolder_ = -1;
    QList<int> markerFolders_;
    // The table's keys, read once per run; read again only after a write
    // that was not the run's own.
    NoteSearchRow::RowIds rowIds_;
    int64_t changesAfterLastBatch_ = -1;
    // Writes the header and meta files beside the run and completes the
    // rows with their titles; the pending rows are its alone.
    DispatchQueuePtr records_;
    struct Indexed {
        NotePtr note;
        NoteIndexMarker::Stamp stamp;
        int markerFolder = -1;
    };
    struct Written {
        Indexed indexed;
        bool writeMeta = false;
        NoteSearchRow row;
    };
    QList<Indexed> pendingNotes_;
    QList<NoteSearchRow> pendingRows_;
};
