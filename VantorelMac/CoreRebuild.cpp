#include "Core.h"

#include "Store/NoteIndexRebuild.h"

namespace {

// Each batch is its own block, so commits and moves queued meanwhile run
// between batches rather than after the whole run.
void runBatch(const DispatchQueuePtr& queue, const std::shared_ptr<NoteIndexRebuild>& run)
{
    if (run->step())
        queue->async([queue, run] { runBatch(queue, run); });
}

} // namespace

void Core::buildTagLinkAndIndexFiles()
{
    auto run = std::make_shared<NoteIndexRebuild>();
    fileQueue_->async([queue = fileQueue_, run] { runBatch(queue, run); });
}
