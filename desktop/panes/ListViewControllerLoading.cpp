// The list's loading: the storage, tag or search to show, the reload on the file queue, the import
// and sorting of a directory's rows, and the empty view's texts.
#include "panes/ListViewController.h"

#include "Core.h"
#include "Dispatch.h"
#include "SLDatabase.h"
#include "files/FileDates.h"

#include <QFile>
#include <QKeySequence>
#include <QLabel>
#include <QtEndian>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <compare>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

bool isAscii(const char* name, qsizetype length)
{
    return std::all_of(name, name + length, [](char c) { return (unsigned char)c < 0x80; });
}

bool isRegularFile(int folder, const char* name, unsigned char type)
{
    if (type != DT_UNKNOWN)
        return type == DT_REG;
    struct stat info {};
    return ::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

// When the file last changed, in nanoseconds: every save dates the note's file anew, so of two notes
// dated to the same whole second the later save reads later here.
int64_t statusChangeTime(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return int64_t(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec;
}

// Puts each run of sorted rows that tie (`same`, of two indexes) in the order of their files' last
// changes, latest first. Only rows that tie are looked at again: a listing of thousands seldom has more than a few.
template <typename Same>
void orderTiesByLatestChange(ListItems& items, const Same& same)
{
    for (qsizetype run = 0; run < items.size();) {
        qsizetype end = run + 1;
        while (end < items.size() && same(run, end))
            ++end;
        if (end - run > 1) {
            std::vector<std::pair<int64_t, ListItemPtr>> changed;
            for (qsizetype i = run; i < end; ++i)
                changed.emplace_back(statusChangeTime(Note::documentFileForKey(items[i]->key(), items[i]->storage())), items[i]);
            std::stable_sort(changed.begin(), changed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
            for (qsizetype i = run; i < end; ++i)
                items[i] = std::move(changed[size_t(i - run)].second);
        }
        run = end;
    }
}

// A row to sort: what it sorts by and its index before the sort, which keeps rows that sort alike in
// their order. Sorting these moves small values and reads no row while comparing.
template <typename Key>
struct Ranked {
    Key key;
    uint32_t row;
};

// Sorts the rows as their ranks order by `order` (a three-way comparison of two ranks), rows that
// it finds equal in their present order; `ranks` ends in the new order.
template <typename Key, typename Order>
void arrange(ListItems& items, std::vector<Ranked<Key>>& ranks, const Order& order)
{
    std::sort(ranks.begin(), ranks.end(), [&](const Ranked<Key>& a, const Ranked<Key>& b) {
        const auto sign = order(a, b);
        return sign != 0 ? sign < 0 : a.row < b.row;
    });
    ListItems sorted;
    sorted.reserve(items.size());
    for (const Ranked<Key>& rank : ranks)
        sorted.append(std::move(items[rank.row]));
    items = std::move(sorted);
}

// The first 16 bytes of a title key, zero after its end, as two numbers that order as the bytes do:
// most titles differ within them, so most comparisons are of numbers. Keys whose heads are equal
// compare whole.
struct TitleHead {
    uint64_t high = 0;
    uint64_t low = 0;

    static TitleHead of(const std::string& key)
    {
        unsigned char bytes[16] = {};
        std::memcpy(bytes, key.data(), std::min(key.size(), sizeof bytes));
        return {qFromBigEndian<uint64_t>(bytes), qFromBigEndian<uint64_t>(bytes + 8)};
    }
    auto operator<=>(const TitleHead&) const = default;
};

// Runs the work on every row of a list, by index: the caller and threads of the global pool take slices
// of rows in turn, since a row costs a few file-system calls that other cores can make meanwhile. The
// caller waits only for slices already begun, so a pool kept busy elsewhere delays the list by nothing.
class Slices {
public:
    Slices(qsizetype rows, const std::function<void(qsizetype)>& work)
        : rows_(rows), work_(work), count_((rows + Size - 1) / Size)
    {
    }
    static void forEach(qsizetype rows, const std::function<void(qsizetype)>& work)
    {
        const auto slices = std::make_shared<Slices>(rows, work);
        const qsizetype helpers = std::min<qsizetype>(slices->count_, std::thread::hardware_concurrency()) - 1;
        for (qsizetype i = 0; i < helpers; ++i)
            DispatchQueue::global()->async([slices] { slices->take(); });
        slices->take();
        std::unique_lock lock(slices->mutex_);
        slices->finished_.wait(lock, [&] { return slices->done_ == slices->count_; });
    }

private:
    static constexpr qsizetype Size = 512;

    void take()
    {
        for (qsizetype slice = next_++; slice < count_; slice = next_++) {
            for (qsizetype i = slice * Size; i < std::min(rows_, (slice + 1) * Size); ++i)
                work_(i);
            std::lock_guard lock(mutex_);
            if (++done_ == count_)
                finished_.notify_all();
        }
    }

    const qsizetype rows_;
    const std::function<void(qsizetype)> work_;
    const qsizetype count_;
    std::atomic<qsizetype> next_ = 0;
    std::mutex mutex_;
    std::condition_variable finished_;
    qsizetype done_ = 0;
};

} // namespace

void ListViewController::selectStorage(int storage, const QString& tag, Completion completion)
{
    storage_ = storage < NoteStorageInbox ? NoteStorageInbox : storage;
    tag_ = tag;
    reloadList(std::move(completion));
}

void ListViewController::searchNote(const QString& query, Completion completion)
{
    if (!query_.isNull() && query == query_) {
        if (completion)
            completion(false);
        return;
    }
    query_ = query;
    reloadList(std::move(completion));
}

void ListViewController::reloadList(Completion completion)
{
    view();
    if (reloading_) {
        reloadAgain_ = true;
        if (pendingCompletion_)
            pendingCompletion_(false);
        pendingCompletion_ = std::move(completion);
        return;
    }
    reloading_ = true;
    rowHeightDelta_ = (Typeset::fontSizeForSizePreset(core_.typeSize()) - Typeset::fontSizeForSizePreset(0)) * 4.5;
    formatter_->reloadFonts(core_.typeSize(), theme());
    core_.fileQueue()->async([self = QPointer(this), storage = storage_, tag = tag_, query = query_,
                              completion = std::move(completion)]() mutable {
        if (!self)
            return;
        Loaded loaded = self->load(storage, tag, query);
        DispatchQueue::main()->async([self, loaded = std::move(loaded), completion = std::move(completion)] {
            if (self)
                self->showRows(loaded, completion);
        });
    });
}

ListViewController::Loaded ListViewController::load(int storage, const QString& tag, const QString& query) const
{
    Loaded loaded;
    if (!query.isEmpty()) {
        core_.syncDatabase([&](SLDatabase& db) {
            Note::searchDatabase(db, query, storage, tag, [&](const auto& notes, const auto& archived) {
                loaded.items = notes;
                loaded.archived = archived;
            });
        });
        return loaded;
    }
    const int64_t option = core_.noteSortOptions();
    const bool tagged = storage == NoteTagHashtag || storage == NoteTagMention;
    if (tagged && !Note::isSafePathComponent(tag))
        return loaded;
    const auto import = [&](const QString& directory, int shown) {
        if (option != 2)
            return importDirectory(directory, shown, option);
        ListTitleReader titles(titleCache(shown), shown);
        ListItems items = importDirectory(directory, shown, option, &titles);
        titles.finish(items, !tagged);
        return items;
    };
    if (tagged) {
        loaded.items = import(Note::linkDirectoryForTag(storage, tag, NoteStorageInbox), NoteStorageInbox);
        loaded.archived = import(Note::linkDirectoryForTag(storage, tag, NoteStorageArchive), NoteStorageArchive);
    } else {
        const int shown = storage == NoteStorageArchive ? NoteStorageArchive : NoteStorageInbox;
        loaded.items = import(Note::documentDirectoryForStorage(shown), shown);
    }
    for (ListItems* list : {&loaded.items, &loaded.archived})
        sortListItems(*list, option, true);
    return loaded;
}

ListTitleCache& ListViewController::titleCache(int storage) const
{
    auto cache = titleCaches_.find(storage);
    if (cache == titleCaches_.end())
        cache = titleCaches_.try_emplace(storage, ListTitleCache::fileForStorage(storage)).first;
    return cache->second;
}

ListItems ListViewController::importDirectory(const QString& directory, int storage, int64_t option,
                                              ListTitleReader* titles)
{
    const QByteArray path = QFile::encodeName(directory);
    DIR* dir = directory.isEmpty() ? nullptr : ::opendir(path.constData());
    if (!dir)
        return {};
    // The listing alone is read in turn; each entry's checks and looks go to the slices.
    QByteArray names;
    std::vector<std::pair<qsizetype, unsigned char>> entries;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        entries.emplace_back(names.size(), entry->d_type);
        names.append(entry->d_name, qsizetype(std::strlen(entry->d_name)) + 1);
    }
    std::vector<ListItemPtr> rows(entries.size());
    const OpenFolder documents(Note::documentDirectoryForStorage(storage));
    Slices::forEach(qsizetype(entries.size()), [&](qsizetype i) {
        const auto [offset, type] = entries[size_t(i)];
        const char* name = names.constData() + offset;
        const qsizetype length = qsizetype(std::strlen(name));
        // A listed name is never empty, has at most 255 bytes and no '/' or NUL: an ASCII one is a safe
        // key and the bytes of its file name, with no decoding or encoding again.
        const bool ascii = isAscii(name, length);
        const QString key = ascii ? QString::fromLatin1(name, length) : QFile::decodeName(name);
        if (!(ascii || Note::isSafePathComponent(key)) || !isRegularFile(dirfd(dir), name, type))
            return;
        auto item = std::make_shared<ListItem>();
        item->setKey(key);
        item->setStorage(storage);
        int64_t modified = 0;
        if (option == 1) {
            int64_t created = 0;
            FileDates::regularFileDates(Note::documentFileForKey(key, storage), &created, &modified);
            item->setCreatedOn(created);
        } else {
            FileDates::Version version;
            FileDates::regularFileModifiedAt(documents.fd, ascii ? name : QFile::encodeName(key).constData(),
                                             &modified, titles ? &version : nullptr);
            if (titles)
                titles->read(*item, version);
        }
        item->setUpdatedOn(modified);
        rows[size_t(i)] = std::move(item);
    });
    ::closedir(dir);
    ListItems items;
    items.reserve(qsizetype(rows.size()));
    for (ListItemPtr& row : rows) {
        if (row)
            items.append(std::move(row));
    }
    return items;
}

bool ListViewController::sortsBefore(const ListItem& a, const ListItem& b, int64_t option)
{
    if (option == 1)
        return a.createdOn() > b.createdOn();
    if (option == 2)
        return a.title().compare(b.title(), Qt::CaseInsensitive) < 0;
    return a.updatedOn() > b.updatedOn();
}

void ListViewController::appendTitleOrderKey(const QString& title, std::string& key)
{
    char16_t last = 0;
    for (const QChar letter : title) {
        const char16_t unit = letter.unicode();
        const char32_t point = QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(last)
                                   ? QChar::surrogateToUcs4(last, unit)
                                   : char32_t(unit);
        last = unit;
        // Most titles are mostly ASCII, whose folding is lower case.
        const char32_t folded = point < 0x80 ? (point >= U'A' && point <= U'Z' ? point + (U'a' - U'A') : point)
                                             : QChar::toCaseFolded(point);
        // Each value in the bytes of its UTF-8 form (surrogates too), which order as the values do:
        // keys then compare a byte run at a time.
        if (folded < 0x80) {
            key.push_back(char(folded));
        } else if (folded < 0x800) {
            key.push_back(char(0xC0 | (folded >> 6)));
            key.push_back(char(0x80 | (folded & 0x3F)));
        } else if (folded < 0x10000) {
            key.push_back(char(0xE0 | (folded >> 12)));
            key.push_back(char(0x80 | ((folded >> 6) & 0x3F)));
            key.push_back(char(0x80 | (folded & 0x3F)));
        } else {
            key.push_back(char(0xF0 | (folded >> 18)));
            key.push_back(char(0x80 | ((folded >> 12) & 0x3F)));
            key.push_back(char(0x80 | ((folded >> 6) & 0x3F)));
            key.push_back(char(0x80 | (folded & 0x3F)));
        }
    }
}

void ListViewController::sortListItems(ListItems& items, int64_t option, bool tiesByLatestChange)
{
    if (option != 2) {
        std::vector<Ranked<int64_t>> ranks(size_t(items.size()));
        for (qsizetype i = 0; i < items.size(); ++i)
            ranks[size_t(i)] = {option == 1 ? items[i]->createdOn() : items[i]->updatedOn(), uint32_t(i)};
        // Newest first.
        arrange(items, ranks, [](const auto& a, const auto& b) { return b.key <=> a.key; });
        if (tiesByLatestChange)
            orderTiesByLatestChange(items, [&](qsizetype a, qsizetype b) { return !sortsBefore(*items[a], *items[b], option); });
        return;
    }
    // Each title folded once rather than at every comparison, on the slices: reading thousands of
    // titles is mostly waiting for memory.
    std::vector<std::string> keys(size_t(items.size()));
    std::vector<Ranked<TitleHead>> ranks(keys.size());
    Slices::forEach(items.size(), [&](qsizetype i) {
        std::string& key = keys[size_t(i)];
        appendTitleOrderKey(items[i]->title(), key);
        ranks[size_t(i)] = {TitleHead::of(key), uint32_t(i)};
    });
    arrange(items, ranks, [&](const auto& a, const auto& b) {
        const auto heads = a.key <=> b.key;
        return heads != 0 ? heads : keys[a.row].compare(keys[b.row]) <=> 0;
    });
    if (tiesByLatestChange)
        orderTiesByLatestChange(items, [&](qsizetype a, qsizetype b) {
            return keys[ranks[size_t(a)].row] == keys[ranks[size_t(b)].row];
        });
}

void ListViewController::showRows(Loaded loaded, Completion completion)
{
    if (std::exchange(reloadAgain_, false)) {
        if (completion)
            completion(false);
        reloading_ = false;
        reloadList(std::exchange(pendingCompletion_, {}));
        return;
    }
    // The rows shown so far are let go on the pool: freeing thousands would hold the main thread.
    DispatchQueue::global()->async([shown = std::exchange(items_, std::move(loaded.items)),
                                    archived = std::exchange(archivedItems_, std::move(loaded.archived))]() mutable {
        shown.clear();
        archived.clear();
    });
    loaded_ = true;
    bridge_->reloadData();
    highlightSelectedRow();
    reloadEmptyView();
    reloading_ = false;
    for (const auto& event : std::exchange(heldEvents_, {}))
        event();
    if (completion)
        completion(true);
}

void ListViewController::reloadEmptyView()
{
    reloadEmptyTexts();
    emptyView_->setVisible(items_.isEmpty() && archivedItems_.isEmpty());
}

void ListViewController::reloadEmptyTexts()
{
    // A search that found nothing says so, rather than that the storage has no notes.
    const QString longText =
        query_.isEmpty() ? tr("No notes here yet.\nPress %1 to write one.")
                               .arg(QKeySequence(QKeySequence::New).toString(QKeySequence::NativeText))
                         : tr("No notes match\n\u201C%1\u201D.")
                               .arg(query_);
    if (longEmptyLabel_->text() != longText) {
        longEmptyLabel_->setText(longText);
        shortEmptyLabel_->setText(query_.isEmpty() ? tr("No notes") : tr("No matches"));
        longEmptyLabel_->adjustSize();
        viewDidLayout();
    }
}
