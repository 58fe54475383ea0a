#include "NoteSearchSession.h"

#include "NoteServices.h"

#include "SLDatabase.h"

#include <sqlite3.h>

#include <atomic>

namespace {

// Statement steps between two looks at the newest search.
constexpr int StepsBetweenChecks = 1000;

} // namespace

struct NoteSearchSession::State {
    std::atomic<quint64> latest{0};
    // The last query whose content scan found nothing, with its filter and
    // the table's change count then. Used on the database queue only.
    struct {
        bool valid = false;
        QString query;
        int storage = 0;
        QString tag;
        int64_t changes = 0;
    } emptyScan;

    bool canSkipScan(const QString& query, int storage, const QString& tag, int64_t changes) const
    {
        return emptyScan.valid && query.startsWith(emptyScan.query) && storage == emptyScan.storage &&
               tag == emptyScan.tag && changes == emptyScan.changes;
    }
};

NoteSearchSession::NoteSearchSession(NoteServices* services) : services_(services), state_(std::make_shared<State>())
{
}

void NoteSearchSession::search(const QString& query, int storage, const QString& tag, Note::SearchBlock block)
{
    if (!services_) {
        block({}, {});
        return;
    }
    const quint64 generation = ++state_->latest;
    services_->asyncDatabase([state = state_, generation, query, storage, tag, block](SLDatabase& db) {
        const auto cancelled = [&] { return state->latest.load() != generation; };
        if (cancelled())
            return;
        sqlite3* const handle = db.sqliteHandle();
        const int64_t changes = db.totalChanges();
        Note::SearchPasses passes;
        passes.skipLooseContent = state->canSkipScan(query, storage, tag, changes);
        passes.cancelled = cancelled;
        Note::ListItemList notes;
        Note::ListItemList archived;
        if (handle) {
            sqlite3_progress_handler(
                handle, StepsBetweenChecks,
                [](void* context) {
                    const auto* check = static_cast<const decltype(cancelled)*>(context);
                    return (*check)() ? 1 : 0;
                },
                const_cast<void*>(static_cast<const void*>(&cancelled)));
        }
        Note::searchDatabase(db, query, storage, tag, [&](const Note::ListItemList& n, const Note::ListItemList& a) {
            notes = n;
            archived = a;
        }, &passes);
        if (handle)
            sqlite3_progress_handler(handle, 0, nullptr, nullptr);
        // A search cancelled midway saw interrupted passes: its rows and its
        // empty scan mean nothing.
        if (cancelled())
            return;
        if (passes.looseContentFoundNothing)
            state->emptyScan = {true, query, storage, tag, changes};
        block(notes, archived);
    });
}
