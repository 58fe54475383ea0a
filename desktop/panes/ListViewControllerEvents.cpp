// The list's note events and live edits: rows inserted, removed, renamed, moved and refreshed as the
// store reports its notes, and the edited note's row following the editor's text.
#include "panes/ListViewController.h"

#include "Clock.h"
#include "Core.h"
#include "Log.h"
#include "files/FileDates.h"

#include <exception>
#include <tuple>
#include <utility>

// --- Note events

void ListViewController::whenLoaded(std::function<void()> event)
{
    // A reload's listing may predate the event: apply it once the new rows are in.
    if (reloading_)
        heldEvents_.append(std::move(event));
    else if (loaded_)
        event();
}

bool ListViewController::takesEvent(int storage, const QString& tag) const
{
    if (storage_ != storage)
        return false;
    return (storage != NoteTagHashtag && storage != NoteTagMention) || tag_.toLower() == tag.toLower();
}

void ListViewController::remoteUpdate(const NotePtr& note)
{
    // A search list keeps what it found until the query runs again; only typing in the editor changes its rows.
    const std::optional<IndexPath> at = query_.isEmpty() ? find(note->key(), note->storage()) : std::nullopt;
    if (!at)
        return;
    const int64_t row = changeRow(*at, note->title(), nullptr, note->updatedOn());
    if (row != at->row && selectedNote_)
        selectNote(selectedNote_);
    if (auto* cell = dynamic_cast<ListEntryCell*>(bridge_->rowView(row, at->section, false))) {
        restoreText(itemAt(row, at->section));
        showText(*cell, *itemAt(row, at->section));
    }
}

int64_t ListViewController::changeRow(IndexPath at, const QString& title, std::shared_ptr<const AttributedString> text,
                                      int64_t updatedOn)
{
    ListItem& item = *itemAt(at.row, at.section);
    const QString oldTitle = item.title();
    // A search row's snippet is the text that matched, which the change made stale.
    item.setTag(0);
    item.setTitle(title);
    item.setAttributedText(std::move(text));
    item.setUpdatedOn(updatedOn);
    // Found rows keep their order by relevance, which no sort by a date or title would keep.
    const int64_t option = core_.noteSortOptions();
    if (query_.isEmpty() && ((option == 0 && at.row != 0) || (option == 2 && (title.isNull() || title != oldTitle))))
        return sortAndMove(at.row, at.section);
    return at.row;
}

void ListViewController::noteDidDelete(const NotePtr& note, int storage, const QString& tag)
{
    if (!loaded_ || (query_.isEmpty() && !takesEvent(storage, tag)))
        return;
    std::optional<int64_t> removedAt[3];
    bool wasSelected[3] = {};
    bridge_->beginUpdates();
    for (const int64_t section : {Archived, Notes}) {
        ListItems& list = *listOf(section);
        for (qsizetype i = list.size() - 1; i >= 0; --i) {
            if (!stands(*list[i], note->key(), note->storage()))
                continue;
            const int64_t tableRow = bridge_->rowForRow(i, section);
            wasSelected[section] = tableView_->selectedRow() == tableRow;
            list.removeAt(i);
            tableView_->removeRows(tableRow, 1, TableView::Animation::SlideUp);
            removedAt[section] = i;
            break;
        }
    }
    bridge_->endUpdates();
    reloadEmptyView();
    const auto pick = [&](int64_t section, int64_t index) {
        const ListItems& list = *listOf(section);
        const ListItems& other = *listOf(section == Notes ? Archived : Notes);
        if (list.size() > index)
            select(index, section);
        else if (index >= 1)
            select(index - 1, section);
        else if (!other.isEmpty())
            select(section == Notes ? 0 : other.size() - 1, section == Notes ? Archived : Notes);
        else
            selectedNote_.reset();
    };
    if (wasSelected[Notes])
        pick(Notes, *removedAt[Notes]);
    else if (wasSelected[Archived])
        pick(Archived, *removedAt[Archived]);
}

void ListViewController::added(const NotePtr& note, int storage, const QString& tag)
{
    if (!query_.isEmpty() || !takesEvent(storage, tag) || find(note->key(), note->storage()))
        return;
    const bool archived = (storage_ == NoteTagHashtag || storage_ == NoteTagMention) &&
                          note->storage() == NoteStorageArchive;
    const int64_t section = archived ? Archived : Notes;
    ListItems& list = *listOf(section);
    auto item = std::make_shared<ListItem>();
    item->setKey(note->key());
    item->setStorage(note->storage());
    const QString document = Note::documentFileForKey(note->key(), note->storage());
    item->setCreatedOn(FileDates::creationDate(document));
    item->setUpdatedOn(FileDates::modificationDate(document));
    list.append(item);
    if (core_.noteSortOptions() == 2)
        item->setTitle(ListTitleReader::headerTitle(note->key(), note->storage()));
    const int64_t index = placeRow(list, item);
    bridge_->beginUpdates();
    tableView_->insertRows(bridge_->rowForRow(index, section), 1, TableView::Animation::SlideDown);
    bridge_->endUpdates();
    reloadEmptyView();
    // The window may have opened the note before its row came.
    if (selectedNote_ && stands(*item, selectedNote_->key(), selectedNote_->storage()))
        select(index, section);
}

void ListViewController::moved(const NotePtr& before, const NotePtr& after, bool done)
{
    if (before->storage() == after->storage()) {
        if (const std::optional<IndexPath> at = find(before->key(), before->storage()))
            itemAt(at->row, at->section)->setKey(after->key());
        // The selection follows its note to the new name.
        if (selectedNote_ && selectedNote_->storage() == before->storage() && selectedNote_->key() == before->key())
            selectedNote_ = std::make_shared<Note>(after->key(), after->storage());
        return;
    }
    if (!done || storage_ == NoteTagHashtag || storage_ == NoteTagMention)
        return;
    noteDidDelete(before, before->storage(), QString());
    added(after, after->storage(), QString());
}

int64_t ListViewController::placeRow(ListItems& list, const ListItemPtr& item) const
{
    const int64_t option = core_.noteSortOptions();
    sortListItems(list, option);
    qsizetype index = list.indexOf(item);
    for (; index > 0 && !sortsBefore(*list[index - 1], *item, option); --index)
        list.swapItemsAt(index - 1, index);
    return index;
}

int64_t ListViewController::sortAndMove(int64_t index, int64_t section)
{
    ListItems& list = *listOf(section);
    const ListItemPtr item = list.at(index);
    const int64_t moved = placeRow(list, item);
    if (moved != index) {
        const int64_t from = bridge_->rowForRow(index, section);
        const int64_t to = bridge_->rowForRow(moved, section);
        bridge_->beginUpdates();
        tableView_->moveRow(from, to);
        bridge_->endUpdates();
    }
    return moved;
}

// --- Live edits

void ListViewController::noteDidEditingText(const NotePtr& note)
{
    ++editKey_;
    if (std::exchange(editing_, true))
        return;
    startEditPass(note);
}

// One pass at a time: the text is taken once per pass, and a pass that ends behind the key starts another.
void ListViewController::startEditPass(const NotePtr& note)
{
    const uint64_t key = editKey_;
    const QString text = (delegate_ ? delegate_->listControllerEditingText(*this) : QString()).left(LiveEditPrefix);
    editQueue_->async([self = QPointer(this), formatter = formatter_, build = liveRowBuilder_, note, key, text] {
        QString title;
        std::shared_ptr<const AttributedString> snippet;
        bool built = false;
        try {
            std::tie(title, snippet) = build(*formatter, text);
            built = true;
        } catch (const std::exception& exception) {
            LogError("list:updateEditingNote error %1", QString::fromUtf8(exception.what()));
        }
        DispatchQueue::main()->async([self, note, key, title, snippet, built] {
            if (!self)
                return;
            if (built)
                self->applyEdit(note, title, snippet);
            if (self->editKey_ != key)
                self->startEditPass(note);
            else
                self->editing_ = false;
        });
    });
}

ListViewController::LiveRow ListViewController::buildLiveRow(const SnippetFormatter& formatter, const QString& text)
{
    Note scratch;
    scratch.setText(text);
    scratch._reloadHeader();
    return {scratch.title(), std::make_shared<AttributedString>(formatter.newSnippetWithNote(scratch.title(), scratch.summary()))};
}

void ListViewController::applyEdit(const NotePtr& note, const QString& title, std::shared_ptr<const AttributedString> text)
{
    const std::optional<IndexPath> at = note->key().isEmpty() ? std::nullopt : find(note->key(), note->storage());
    if (!at)
        return;
    const int64_t row = changeRow(*at, title, std::move(text), Clock::now());
    if (auto* cell = dynamic_cast<ListEntryCell*>(bridge_->rowView(row, at->section, false))) {
        select(row, at->section);
        showText(*cell, *itemAt(row, at->section));
    }
}
