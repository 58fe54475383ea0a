#include "OfflineCKCloud.h"

#include "Log.h"

void OfflineCKCloud::saveNote(const NotePtr&, Completion block)
{
    LogError("ckcloud:save error cloudkit disabled");
    if (block)
        block(false);
}

void OfflineCKCloud::moveNote(const NotePtr&, const NotePtr&, Completion block)
{
    if (block)
        block(false);
}

void OfflineCKCloud::deleteNote(const NotePtr&, Completion block)
{
    if (block)
        block(false);
}

void OfflineCKCloud::notifyDeleteNote(const NotePtr&, const FileTime&, Completion block)
{
    if (block)
        block(false);
}

void OfflineCKCloud::wait(std::function<void()> block)
{
    block();
}

void OfflineCKCloud::fetchStorage(Completion block)
{
    if (block)
        block(true);
}

void OfflineCKCloud::subscribeUsingBlock(ErrorBlock block)
{
    if (block)
        block(Error());
}

void OfflineCKCloud::unsubscribeUsingBlock(ErrorBlock block)
{
    if (block)
        block(Error());
}
