#include "Core.h"

#include "Store/NoteIndexRebuild.h"
#include "Store/NoteStoreTidy.h"

namespace {

// Each batch is its own block, so commits and moves queued meanwhile run
// between batches rather than after the whole run. What interrupted work
// left behind is cleared once the notes are indexed.
void runBatch(const DispatchQueuePtr& queue, const std::shared_ptr<NoteIndexRebuild>& run)
{
    if (run->step())
        queue->async([queue, run] { runBatch(queue, run); });
    else
        queue->async([] { NoteStoreTidy::atStart(); });
}

} // namespace

void Core::buildTagLinkAndIndexFiles()
{
    auto run = std::make_shared<NoteIndexRebuild>();
    // Before any note is opened, which would hold it under its old name.
    fileQueue_->async([queue = fileQueue_, run] {
        Note::makeReadableFileNames();
        runBatch(queue, run);
    });
}
