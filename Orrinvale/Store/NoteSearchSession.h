#pragma once

#include "Note.h"

#include <memory>

class NoteServices;

// The searches behind one search field, one per keystroke. Each runs on the
// database queue; starting one cancels the one before it, which stops at its
// next statement step and never calls its block, so a slow pass never delays
// the newer query. A query that extends an earlier one whose content scan
// found nothing skips that scan while the table is unchanged.
class NoteSearchSession {
public:
    explicit NoteSearchSession(NoteServices* services = Note::services());

    // The block runs on the database queue, only if no newer search started
    // before this one finished. Without services it gets two empty lists.
    void search(const QString& query, int storage, const QString& tag, Note::SearchBlock block);

private:
    struct State;
    NoteServices* services_;
    std::shared_ptr<State> state_;
};
