#include "Core.h"

#include "Store/NoteIndexRebuild.h"
#include "Store/NoteStoreTidy.h"

namespace {

// Each batch is its own block, so commits and moves queued meanwhile run
// between batches rather than after the whole run. What interrupted work
// left behind is cleared once the notes are indexed. A stopped run ends
// within its batch: the next start indexes the rest.
void runBatch(const DispatchQueuePtr& queue, const std::shared_ptr<NoteIndexRebuild>& run, const std::atomic<bool>& stopped)
{
    if (stopped)
        return;
    if (run->step(&stopped))
        queue->async([queue, run, &stopped] { runBatch(queue, run, stopped); });
    else
        queue->async([] { NoteStoreTidy::atStart(); });
}

} // namespace

void Core::buildTagLinkAndIndexFiles()
{
    auto run = std::make_shared<NoteIndexRebuild>();
    // Before any note is opened, which would hold it under its old name.
    fileQueue_->async([queue = fileQueue_, run, &stopped = indexingStopped_] {
        Note::makeReadableFileNames();
        runBatch(queue, run, stopped);
    });
}
