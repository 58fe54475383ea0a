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
#include <array>
#include <compare>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
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

// Sorts ranks by `order` (a three-way comparison of two ranks), those it finds equal by their rows.
template <typename Iterator, typename Order>
void sortRanks(Iterator begin, Iterator end, const Order& order)
{
    using Rank = typename std::iterator_traits<Iterator>::value_type;
    std::sort(begin, end, [&](const Rank& a, const Rank& b) {
        const auto sign = order(a, b);
        return sign != 0 ? sign < 0 : a.row < b.row;
    });
}

// Puts the rows in the order of their ranks.
template <typename Key>
void placeRows(ListItems& items, const std::vector<Ranked<Key>>& ranks)
{
    ListItems sorted;
    sorted.reserve(items.size());
    for (const Ranked<Key>& rank : ranks)
        sorted.append(std::move(items[rank.row]));
    items = std::move(sorted);
}

// The first 16 bytes of a title key, zero after its end, as two numbers that order as the bytes do:
// most titles differ within them. Keys whose heads are equal compare whole.
struct TitleHead {
    uint64_t high = 0;
    uint64_t low = 0;

    static TitleHead of(const std::string& key)
    {
        unsigned char bytes[Bytes] = {};
        std::memcpy(bytes, key.data(), std::min(key.size(), sizeof bytes));
        return {qFromBigEndian<uint64_t>(bytes), qFromBigEndian<uint64_t>(bytes + 8)};
    }
    auto operator<=>(const TitleHead&) const = default;

    static constexpr int Bytes = 16;
    unsigned byte(int i) const { return unsigned(((i < 8 ? high : low) >> (8 * (7 - i % 8))) & 0xFF); }
};

// A date as a number whose bytes order as the list does, newest first: with its sign bit flipped a
// date orders as an unsigned number, and every bit inverted puts the latest first.
struct NewestFirst {
    uint64_t value = 0;

    static NewestFirst of(int64_t date) { return {~(uint64_t(date) ^ (uint64_t(1) << 63))}; }
    auto operator<=>(const NewestFirst&) const = default;

    static constexpr int Bytes = 8;
    unsigned byte(int i) const { return unsigned((value >> (8 * (7 - i))) & 0xFF); }
};

// Sorts ranks by their keys' bytes, those of equal keys in their present order: a stable pass per
// byte, from the last, over the bytes that differ between keys. Keys that share their opening (dates
// of one year, titles such as "Meeting notes") make comparisons go on to later bytes, which the
// processor guesses wrong; here a byte every key shares costs no pass, and keys differing in every
// byte cost about what comparing them does.
template <typename Key>
void sortByBytes(std::vector<Ranked<Key>>& ranks)
{
    std::vector<std::array<uint32_t, 256>> counts(Key::Bytes);
    for (const Ranked<Key>& rank : ranks) {
        for (int i = 0; i < Key::Bytes; ++i)
            ++counts[size_t(i)][rank.key.byte(i)];
    }
    std::vector<Ranked<Key>> passed(ranks.size());
    for (int i = Key::Bytes - 1; i >= 0; --i) {
        std::array<uint32_t, 256>& count = counts[size_t(i)];
        // A byte every key shares orders nothing.
        if (std::find(count.begin(), count.end(), uint32_t(ranks.size())) != count.end())
            continue;
        uint32_t start = 0;
        for (uint32_t& bucket : count)
            start += std::exchange(bucket, start);
        for (const Ranked<Key>& rank : ranks)
            passed[count[rank.key.byte(i)]++] = rank;
        ranks.swap(passed);
    }
}

// A listing's entries read so far, a slice at a time: the names (each ending in NUL), with the kinds
// the listing gave and, for a name whose row was made ahead, its index among those (else -1); the rows
// made of the others and their titles' order keys, at their entries' indexes.
struct ListingSlice {
    struct Entry {
        qsizetype offset;
        unsigned char type;
        qsizetype ahead;
    };
    QByteArray names;
    std::vector<Entry> entries;
    std::vector<ListItemPtr> rows;
    std::vector<std::string> keys; // when asked
};

// Runs work on slices of a list's rows, by number: the caller and threads of the global pool take
// slices in turn, since a row costs a few file-system calls that other cores can make meanwhile. Slices
// may be added while earlier ones are worked on, as a listing is read. The caller waits only for slices
// already begun, so a pool kept busy elsewhere delays the list by nothing.
class Slices {
public:
    static constexpr qsizetype Size = 256;

    // At most `helpers` threads of the pool help at once.
    Slices(std::function<void(qsizetype slice)> work, qsizetype helpers)
        : state_(std::make_shared<State>(std::move(work), helpers))
    {
    }
    Slices(const Slices&) = delete;
    Slices& operator=(const Slices&) = delete;
    ~Slices() { finish(); }

    // Runs the work on every row of a list, by index.
    static void forEach(qsizetype rows, const std::function<void(qsizetype)>& work)
    {
        const qsizetype count = (rows + Size - 1) / Size;
        Slices slices([&](qsizetype slice) {
            for (qsizetype i = slice * Size; i < std::min(rows, (slice + 1) * Size); ++i)
                work(i);
        }, std::min<qsizetype>(count, qsizetype(std::thread::hardware_concurrency())) - 1);
        for (qsizetype slice = 0; slice < count; ++slice)
            slices.add();
    }

    // One more slice, numbered as the count of those before, is ready for the work; a thread of the
    // pool is called for it only when asked (the caller may be about to take it).
    void add(bool callHelper = true)
    {
        std::unique_lock lock(state_->mutex);
        ++state_->added;
        if (!callHelper || state_->helpers >= state_->maxHelpers)
            return;
        ++state_->helpers;
        lock.unlock();
        DispatchQueue::global()->async([state = state_] { state->take(true); });
    }

    // No slice comes after: takes those left and waits for those begun.
    void finish()
    {
        state_->take(false);
        std::unique_lock lock(state_->mutex);
        state_->finished.wait(lock, [&] { return state_->done == state_->added; });
    }

private:
    struct State {
        State(std::function<void(qsizetype)> work, qsizetype maxHelpers)
            : work(std::move(work)), maxHelpers(maxHelpers)
        {
        }
        // Works on slices until none is ready; a helper leaves the count as it finds none, so a slice
        // added after that calls another.
        void take(bool helper)
        {
            std::unique_lock lock(mutex);
            while (taken < added) {
                const qsizetype slice = taken++;
                lock.unlock();
                work(slice);
                lock.lock();
                if (++done == added)
                    finished.notify_all();
            }
            if (helper)
                --helpers;
        }

        const std::function<void(qsizetype)> work;
        const qsizetype maxHelpers;
        std::mutex mutex;
        std::condition_variable finished;
        qsizetype added = 0;
        qsizetype taken = 0;
        qsizetype done = 0;
        qsizetype helpers = 0;
    };
    std::shared_ptr<State> state_;
};

// A row of a listing: a regular file with a safe name, dated from the note's text file (created too
// for the sort option 1 that orders by it) and, with titles, titled.
struct RowMaker {
    int listed;    // the folder listed, for entries of unknown kind
    int documents; // the notes' text files
    int storage;
    int64_t option;
    ListTitleReader* titles;

    ListItemPtr operator()(const char* name, unsigned char type) const
    {
        const qsizetype length = qsizetype(std::strlen(name));
        // A listed name is never empty, has at most 255 bytes and no '/' or NUL: an ASCII one is a safe
        // key and the bytes of its file name, with no decoding or encoding again.
        const bool ascii = isAscii(name, length);
        const QString key = ascii ? QString::fromLatin1(name, length) : QFile::decodeName(name);
        if (!(ascii || Note::isSafePathComponent(key)) || !isRegularFile(listed, name, type))
            return nullptr;
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
            FileDates::regularFileModifiedAt(documents, ascii ? name : QFile::encodeName(key).constData(), &modified,
                                             titles ? &version : nullptr);
            if (titles)
                titles->read(*item, version);
        }
        item->setUpdatedOn(modified);
        return item;
    }
};

// Rows made ahead of a listing, of the names the folder's last listing gave: a name listed again takes
// its row from here instead of waiting for the listing to reach it, and between two listings few
// names come or go. They are made as of regular files; the listing's kind of each decides.
class RowsAhead {
public:
    RowsAhead(const ListViewController::ListedNames* last, bool withKeys)
        : last_(last), count_(last ? qsizetype(last->offsets.size()) : 0), rows_(static_cast<size_t>(count_)),
          keys_(static_cast<size_t>(withKeys ? count_ : 0))
    {
    }

    qsizetype count() const { return count_; }
    const char* name(qsizetype i) const { return last_->names.constData() + last_->offsets[size_t(i)]; }
    ListItemPtr& row(qsizetype i) { return rows_[size_t(i)]; }
    std::string& key(qsizetype i) { return keys_[size_t(i)]; }

    // The name's index among the last listing's, or -1. A folder unchanged lists its names in the same
    // order again, so the name after the last one found, or the one after that (a note gone), is
    // tried before all of them are looked up.
    qsizetype find(const char* name)
    {
        for (const qsizetype at : {next_, next_ + 1}) {
            if (at < count_ && std::strcmp(this->name(at), name) == 0)
                return found(at);
        }
        if (count_ > 0 && index_.empty()) {
            index_.reserve(size_t(count_));
            for (qsizetype i = 0; i < count_; ++i)
                index_.emplace(this->name(i), i);
        }
        const auto at = index_.find(name);
        return at == index_.end() ? -1 : found(at->second);
    }

private:
    qsizetype found(qsizetype at)
    {
        next_ = at + 1;
        return at;
    }

    const ListViewController::ListedNames* last_;
    const qsizetype count_;
    std::vector<ListItemPtr> rows_;
    std::vector<std::string> keys_;
    qsizetype next_ = 0;
    // Made at the first name out of turn.
    std::unordered_map<std::string_view, qsizetype> index_;
};

// A listing's next name and kind; a null name at its end.
struct ListedEntry {
    const char* name;
    unsigned char type;
};

// The folder's entries, as read.
auto readEntries(DIR* dir)
{
    return [dir] {
        const dirent* entry = ::readdir(dir);
        return entry ? ListedEntry{entry->d_name, entry->d_type} : ListedEntry{nullptr, DT_UNKNOWN};
    };
}

// The entries of a listing kept, again.
auto keptEntries(const ListViewController::ListedNames& kept)
{
    return [&kept, next = size_t(0)]() mutable {
        if (next == kept.offsets.size())
            return ListedEntry{nullptr, DT_UNKNOWN};
        const size_t at = next++;
        return ListedEntry{kept.names.constData() + kept.offsets[at], kept.types[at]};
    };
}

// Takes the listing's entries from `next` but those beginning with '.', handing each slice of them to
// `slices` as it fills; the caller takes the last slice next.
template <typename Entries>
void readListing(Entries next, RowsAhead& ahead, Slices& slices, std::deque<ListingSlice>& listed,
                 std::mutex& listedMutex)
{
    ListingSlice reading;
    // A thread is called only for a slice with rows to make.
    bool rowsToMake = false;
    const auto hand = [&](bool callHelper) {
        {
            std::lock_guard lock(listedMutex);
            listed.push_back(std::exchange(reading, {}));
        }
        slices.add(callHelper && std::exchange(rowsToMake, false));
    };
    for (ListedEntry entry = next(); entry.name; entry = next()) {
        if (entry.name[0] == '.')
            continue;
        const qsizetype early = ahead.find(entry.name);
        rowsToMake = rowsToMake || early < 0;
        reading.entries.push_back({reading.names.size(), entry.type, early});
        reading.names.append(entry.name, qsizetype(std::strlen(entry.name)) + 1);
        if (qsizetype(reading.entries.size()) == Slices::Size)
            hand(true);
    }
    if (!reading.entries.empty())
        hand(false);
}

// The names of a listing read, for the next.
ListViewController::ListedNames namesOf(const std::deque<ListingSlice>& listed)
{
    ListViewController::ListedNames names;
    for (const ListingSlice& slice : listed) {
        for (const ListingSlice::Entry& entry : slice.entries) {
            names.offsets.push_back(names.names.size() + entry.offset);
            names.types.push_back(entry.type);
        }
        names.names += slice.names;
    }
    return names;
}

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
    // A storage's folder is listed again and again as the user moves between storages: its rows are
    // made ahead from its last listing.
    ListedNames* const last = tagged ? nullptr : &listedNames_[storage == NoteStorageArchive ? storage : NoteStorageInbox];
    const auto import = [&](const QString& directory, int shown) {
        if (option != 2) {
            ListItems items = importDirectory(directory, shown, option, nullptr, nullptr, last);
            sortListItems(items, option, true);
            return items;
        }
        ListTitleReader titles(titleCache(shown), shown);
        std::vector<std::string> keys;
        ListItems items = importDirectory(directory, shown, option, &titles, &keys, last);
        titles.finish(items, !tagged);
        sortByTitleKeys(items, keys, true);
        return items;
    };
    if (tagged) {
        loaded.items = import(Note::linkDirectoryForTag(storage, tag, NoteStorageInbox), NoteStorageInbox);
        loaded.archived = import(Note::linkDirectoryForTag(storage, tag, NoteStorageArchive), NoteStorageArchive);
    } else {
        const int shown = storage == NoteStorageArchive ? NoteStorageArchive : NoteStorageInbox;
        loaded.items = import(Note::documentDirectoryForStorage(shown), shown);
    }
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
                                              ListTitleReader* titles, std::vector<std::string>* titleKeys,
                                              ListedNames* last)
{
    const QByteArray path = QFile::encodeName(directory);
    DIR* dir = directory.isEmpty() ? nullptr : ::opendir(path.constData());
    if (!dir)
        return {};
    const OpenFolder documents(Note::documentDirectoryForStorage(storage));
    const RowMaker row{dirfd(dir), documents.fd, storage, option, titles};
    const auto made = [&](const char* name, unsigned char type, ListItemPtr& into, std::string* key) {
        into = row(name, type);
        // Folded here, while the title is at hand.
        if (key && into)
            appendTitleOrderKey(into->title(), *key);
    };
    // Looked at before the listing, and only when one is kept: a name that comes or goes meanwhile
    // gives the folder another version.
    const FileDates::Version folder = last ? FileDates::folderVersion(dirfd(dir)) : FileDates::Version{};
    const bool unchanged = last && last->settledFolder == folder;
    RowsAhead ahead(last, titleKeys);
    const qsizetype aheadSlices = (ahead.count() + Slices::Size - 1) / Slices::Size;
    // The listing alone is read in turn; the rows made ahead, then each slice of entries not among
    // them, go to the slices' threads, for their checks and looks, while the next is read.
    std::deque<ListingSlice> listed;
    std::mutex listedMutex;
    {
        Slices slices([&](qsizetype number) {
            if (number < aheadSlices) {
                for (qsizetype i = number * Slices::Size; i < std::min(ahead.count(), (number + 1) * Slices::Size); ++i)
                    made(ahead.name(i), DT_REG, ahead.row(i), titleKeys ? &ahead.key(i) : nullptr);
                return;
            }
            ListingSlice* slice = nullptr;
            {
                std::lock_guard lock(listedMutex);
                slice = &listed[size_t(number - aheadSlices)];
            }
            slice->rows.resize(slice->entries.size());
            slice->keys.resize(titleKeys ? slice->entries.size() : 0);
            for (size_t i = 0; i < slice->entries.size(); ++i) {
                const ListingSlice::Entry& entry = slice->entries[i];
                if (entry.ahead < 0)
                    made(slice->names.constData() + entry.offset, entry.type, slice->rows[i],
                         titleKeys ? &slice->keys[i] : nullptr);
            }
        }, qsizetype(std::thread::hardware_concurrency()) - 1);
        for (qsizetype i = 0; i < aheadSlices; ++i)
            slices.add();
        if (unchanged)
            readListing(keptEntries(*last), ahead, slices, listed, listedMutex);
        else
            readListing(readEntries(dir), ahead, slices, listed, listedMutex);
        slices.finish();
    }
    ListItems items;
    items.reserve(qsizetype(listed.size()) * Slices::Size);
    for (ListingSlice& slice : listed) {
        for (size_t i = 0; i < slice.entries.size(); ++i) {
            const ListingSlice::Entry& entry = slice.entries[i];
            const bool early = entry.ahead >= 0;
            if (early && !isRegularFile(dirfd(dir), slice.names.constData() + entry.offset, entry.type))
                continue;
            ListItemPtr& taken = early ? ahead.row(entry.ahead) : slice.rows[i];
            if (!taken)
                continue;
            items.append(std::move(taken));
            if (titleKeys)
                titleKeys->push_back(std::move(early ? ahead.key(entry.ahead) : slice.keys[i]));
        }
    }
    // A kept listing that stood in for the folder is this listing already; the file system is asked
    // about only for a listing read afresh.
    if (last && !unchanged) {
        *last = namesOf(listed);
        if (folder.size >= 0 && FileDates::isSettled(folder) && FileDates::keepsFolderChanges(dirfd(dir)))
            last->settledFolder = folder;
    }
    ::closedir(dir);
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
        std::vector<Ranked<NewestFirst>> ranks(size_t(items.size()));
        for (qsizetype i = 0; i < items.size(); ++i)
            ranks[size_t(i)] = {NewestFirst::of(option == 1 ? items[i]->createdOn() : items[i]->updatedOn()), uint32_t(i)};
        sortByBytes(ranks);
        placeRows(items, ranks);
        // The dates, at hand in order, spare reading the rows again.
        if (tiesByLatestChange)
            orderTiesByLatestChange(items, [&](qsizetype a, qsizetype b) { return ranks[size_t(a)].key == ranks[size_t(b)].key; });
        return;
    }
    // Each title folded once rather than at every comparison, on the slices: reading thousands of
    // titles is mostly waiting for memory.
    std::vector<std::string> keys(size_t(items.size()));
    Slices::forEach(items.size(), [&](qsizetype i) { appendTitleOrderKey(items[i]->title(), keys[size_t(i)]); });
    sortByTitleKeys(items, keys, tiesByLatestChange);
}

void ListViewController::sortByTitleKeys(ListItems& items, const std::vector<std::string>& keys,
                                         bool tiesByLatestChange)
{
    std::vector<Ranked<TitleHead>> ranks(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        ranks[i] = {TitleHead::of(keys[i]), uint32_t(i)};
    sortByBytes(ranks);
    // Titles alike for the heads' length (few) are ordered by their whole keys.
    for (auto run = ranks.begin(); run != ranks.end();) {
        const auto end = std::find_if(run + 1, ranks.end(), [&](const auto& rank) { return rank.key != run->key; });
        if (end - run > 1)
            sortRanks(run, end, [&](const auto& a, const auto& b) { return keys[a.row].compare(keys[b.row]) <=> 0; });
        run = end;
    }
    placeRows(items, ranks);
    if (tiesByLatestChange)
        orderTiesByLatestChange(items, [&](qsizetype a, qsizetype b) {
            // The heads, at hand in order, spare most reads of the keys, which lie in the listing's order.
            const Ranked<TitleHead>& first = ranks[size_t(a)];
            const Ranked<TitleHead>& second = ranks[size_t(b)];
            return first.key == second.key && keys[first.row] == keys[second.row];
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
