#pragma once

#include "Note.h"
#include "NoteIndexMarker.h"
#include "NoteSearchIndex.h"
#include "NoteSearchRow.h"

#include "Dispatch.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <optional>

// Brings every note of the inbox, then of the archive, whose index marker is
// missing or no longer matches its text file into the tag folders, the search
// table, its header and meta file, a batch at a time. Five queues share the
// work, each taking the notes in order: the caller's reads each note's text,
// one queue of the run's own its dates, title and tags, and hands the rows of
// each half batch read now to the database's, which takes them in one
// transaction while another writes the links and a third, beside it, the
// header and meta files; into an empty table a sixth, through a connection of
// its own, puts the rows written into the search side indexes. A note's
// marker is written once its row went in and its files are written. A batch
// is whole when its step returns; between batches the caller's queue is free
// for other work, and while a step runs it holds the caller's queue, so no
// other work meets the links written beside it. While a batch's last writes
// go on, the caller's queue reads the next batch's notes and the parser's
// makes their titles, tags and rows; of them only the rows are written, in
// one transaction handed to the database's queue before the step returns, so
// that work queued between steps comes after them there. The next step takes
// each note so only when its file is still as it was read, and reads its meta
// file's dates itself; a note read again has its row written again. A missing
// or unreadable document folder ends the whole run. The tag folders are read
// afresh once per run, so that each note visits only the folders holding its
// links. Only regular files are read as notes.
class NoteIndexRebuild {
public:
    // Into an empty table, the search side indexes are filled beside the run
    // rather than all after its last rows, sideRowsPerPart rows at a time, by
    // a connection and a queue of their own. Each part is a transaction and
    // a segment of their own to merge later: larger parts cost less in all.
    explicit NoteIndexRebuild(int batchSize = 250, int sideRowsPerPart = 2500);
    ~NoteIndexRebuild();
    NoteIndexRebuild(const NoteIndexRebuild&) = delete;
    NoteIndexRebuild& operator=(const NoteIndexRebuild&) = delete;

    // Indexes the next batch; false once the run is over. Once stopped turns
    // true, the step reads no more notes and indexes only those it has read.
    bool step(const std::atomic<bool>* stopped = nullptr);

private:
    bool openNextStorage();
    // True when the name is a note whose marker does not match its file,
    // whose stamp it gives.
    bool needsIndexing(const QString& name, NoteIndexMarker::Identity* identity) const;
    struct Read;
    // The named note of the storage, read, when it needs indexing; identity
    // is its file as read.
    std::optional<Read> readNote(const QString& name, NoteIndexMarker::Identity* identity);
    // The batch's next note: one read ahead whose file is as it was read,
    // else the next name read now; none once the run is over.
    std::optional<Read> nextNote();
    // A note read ahead, its row written, not taken at its step (identity is
    // its file then): its row goes too, unless the note store committed it
    // meanwhile, its marker matching the file.
    void dropAheadRow(const QString& key, const NoteIndexMarker::Identity& identity);
    // Reads the storage's next notes while the batch's last writes go on,
    // and has their titles, tags and rows made, and the rows written;
    // answers once the rows are on the database's queue.
    std::future<void> readAhead(const std::atomic<bool>* stopped);
    void closeDocumentFolder();
    // What the database's queue answered for the rows of one transaction,
    // read when their notes' markers are written, once it has answered.
    using Stored = std::shared_ptr<QList<bool>>;
    // Called once the notes handed with it and all before them are marked.
    using Whole = std::function<void()>;
    // Hands notes read to the parser's queue, which takes their titles, tags
    // and rows, with store stores the rows (storeRows), then takes their
    // meta files' dates. With whole, every note handed since the last whole
    // is marked: one marking at a time, so they are written in order.
    void parse(QList<Read>& read, bool store, const Whole& whole = {});
    class Table;
    // Has the database's queue write the rows in one transaction, its
    // answers going to stored.
    static void queueRows(NoteServices& core, const std::shared_ptr<Table>& table, QList<NoteSearchRow> rows,
                          QList<QByteArray> words, const Stored& stored);
    struct Marking;
    // Hands the rows parsed since the last store to the database's queue,
    // in one transaction; with last, the side indexes left behind follow;
    // then marking, if any, learns that they are in.
    void storeRows(bool last, const std::shared_ptr<Marking>& marking);
    // Hands notes parsed to the records' queue, for their header and meta
    // files, and to the links' queue, which then hands them on to the
    // records' once their links are in; with marking, the records' queue
    // then hands it every note since the last such hand, for their markers.
    void hand(QList<Read>& read, const std::shared_ptr<Marking>& marking);

    int batchSize_;
    int storage_ = 0;
    bool done_ = false;
    QStringList names_;
    qsizetype next_ = 0;
    QSet<QString> indexed_;
    // The storage's folders of markers, headers and metas: open from the
    // storage's start until the run ends, since the other queues may still
    // write into them.
    struct CacheFolders {
        int markers = -1;
        int headers = -1;
        int metas = -1;
    };
    // The storage's document folder, open while it is indexed.
    int documentFolder_ = -1;
    CacheFolders cacheFolders_;
    QList<int> openCacheFolders_;
    // What the database's queue keeps of the run, its alone: shared with
    // the blocks queued there, which may run after a step returns.
    class Table {
    public:
        explicit Table(int sideRowsPerPart) : sideRowsPerPart_(sideRowsPerPart) {}
        // Writes the rows; words holds the distinct words of each.
        QList<bool> writeRows(SLDatabase& db, const QList<NoteSearchRow>& rows, const QList<QByteArray>& words);
        // Once the run's last rows are in: hands on the rest of them to the
        // side indexes left behind and marks those as following, or has them
        // filled afresh when another writer met the rows meanwhile.
        void finishSideIndexes(SLDatabase& db);

    private:
        // The table's keys, read once per run; read again only after a write
        // that was not the run's own.
        NoteSearchRow::RowIds rowIds_;
        int64_t changesAfterLastBatch_ = -1;
        // The search side indexes were left behind, to be filled beside the
        // run by a connection of its own (none when they could not be
        // emptied, or the database is in memory), and the rows written since
        // its last part. Missed: a write not the run's own met the rows, so
        // the indexes are filled afresh once the run ends.
        bool sideIndexesBehind_ = false;
        int sideRowsPerPart_;
        class SideFill;
        void handSideRows();
        std::shared_ptr<SideFill> sideFill_;
        bool sideFillMissedRows_ = false;
        // The rows written since, by row id: a later row of a key went over
        // the earlier.
        QMap<qint64, NoteSearchIndex::SideRow> sideRows_;
    };
    std::shared_ptr<Table> table_;
    // Parses the notes read, in the order read; the rows not yet stored, and
    // where their answers will be, are its alone.
    DispatchQueuePtr parser_;
    QList<NoteSearchRow> rows_;
    QList<QByteArray> rowWords_;
    Stored rowsStored_;
    // Writes the tag links of the notes parsed, in the order read.
    DispatchQueuePtr links_;
    // Writes the header and meta files beside the run; the notes awaiting
    // their markers are its alone.
    DispatchQueuePtr records_;
    // Where the database's queue answers whether a note's row went in: read
    // only once that queue has taken the row.
    struct RowAnswer {
        Stored stored;
        qsizetype at = 0;
        bool wentIn() const { return stored && stored->value(at); }
    };
    struct Indexed {
        NotePtr note;
        NoteIndexMarker::Stamp stamp;
        CacheFolders folders;
        RowAnswer row;
    };
    // What a note's text alone gives, and its row's answer once handed; the
    // parser's queue's alone.
    struct Parsed {
        Note::TagLinks tags;
        NoteSearchRow row;
        QByteArray words;
        RowAnswer answer;
    };
    struct Read {
        Indexed indexed;
        bool writeMeta = false;
        Note::TagLinks tags;
        // Made ahead when the note was read ahead.
        std::shared_ptr<Parsed> parsed;
    };
    QList<Indexed> unmarked_;
    // Notes read ahead for the next batch, with their files as read.
    struct Ahead {
        Read read;
        NoteIndexMarker::Identity identity;
    };
    QList<Ahead> ahead_;
};
