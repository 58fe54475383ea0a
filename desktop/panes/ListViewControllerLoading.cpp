// The list's loading: the storage, tag or search to show, the reload on the file queue, the import
// and sorting of a directory's rows, and the empty view's texts.
#include "panes/ListViewController.h"

#include "Core.h"
#include "Dispatch.h"
#include "SLDatabase.h"
#include "Store/NoteHeaderFile.h"
#include "Store/NoteIndexMarker.h"
#include "files/FileDates.h"

#include <QFile>
#include <QKeySequence>
#include <QLabel>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

bool isRegularFile(const QByteArray& path, unsigned char type)
{
    if (type != DT_UNKNOWN)
        return type == DT_REG;
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode);
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

// A small file of a folder read whole with one open and, for files under 4 KB, one read: a list sorted
// by title reads one header file per note. Empty when the file cannot be read.
QByteArray readSmallFile(int folder, const QByteArray& name)
{
    const int fd = ::openat(folder, name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray data(4096, Qt::Uninitialized);
    qsizetype size = 0;
    for (;;) {
        const ssize_t got = ::read(fd, data.data() + size, size_t(data.size() - size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            size = 0;
        if (got <= 0)
            break;
        size += got;
        // A short read of a regular file is its end; a full one may have more behind it.
        if (size < data.size())
            break;
        data.resize(size * 2);
    }
    ::close(fd);
    data.truncate(size);
    return data;
}

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

// The title in the note's header file inside the open header folder; none when it cannot be read.
std::optional<QString> titleInHeaders(int headers, const QString& key)
{
    NoteHeaderFile header;
    if (headers < 0 || !Note::isSafePathComponent(key) || !header.read(readSmallFile(headers, QFile::encodeName(key))))
        return std::nullopt;
    return header.title;
}

// A folder of the store open for lookups by name, closed with the object.
struct OpenFolder {
    explicit OpenFolder(const QString& path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~OpenFolder()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    const int fd;
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
    // By title, each text file's version tells whether the title kept for it still holds.
    std::vector<FileDates::Version> versions[2];
    const auto versionsOf = [&](int list) { return option == 2 ? &versions[list] : nullptr; };
    const bool tagged = storage == NoteTagHashtag || storage == NoteTagMention;
    if (tagged) {
        if (!Note::isSafePathComponent(tag))
            return loaded;
        loaded.items = importDirectory(Note::linkDirectoryForTag(storage, tag, NoteStorageInbox), NoteStorageInbox, option,
                                       versionsOf(0));
        loaded.archived = importDirectory(Note::linkDirectoryForTag(storage, tag, NoteStorageArchive),
                                          NoteStorageArchive, option, versionsOf(1));
    } else {
        const int shown = storage == NoteStorageArchive ? NoteStorageArchive : NoteStorageInbox;
        loaded.items = importDirectory(Note::documentDirectoryForStorage(shown), shown, option, versionsOf(0));
    }
    if (option == 2) {
        readTitles(loaded.items, versions[0], !tagged);
        readTitles(loaded.archived, versions[1], !tagged);
    }
    for (ListItems* list : {&loaded.items, &loaded.archived}) {
        sortListItems(*list, option);
        orderTiesByLatestChange(*list, option);
    }
    return loaded;
}

ListItems ListViewController::importDirectory(const QString& directory, int storage, int64_t option,
                                              std::vector<FileDates::Version>* versions)
{
    ListItems items;
    const QByteArray path = QFile::encodeName(directory);
    DIR* dir = directory.isEmpty() ? nullptr : ::opendir(path.constData());
    if (!dir)
        return items;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name.startsWith(QLatin1Char('.')) || !Note::isSafePathComponent(name) ||
            !isRegularFile(path + '/' + entry->d_name, entry->d_type))
            continue;
        auto item = std::make_shared<ListItem>();
        item->setKey(name);
        item->setStorage(storage);
        items.append(item);
    }
    ::closedir(dir);
    if (versions)
        versions->assign(size_t(items.size()), {});
    const OpenFolder documents(Note::documentDirectoryForStorage(storage));
    Slices::forEach(items.size(), [&](qsizetype i) {
        ListItem& item = *items[i];
        int64_t modified = 0;
        if (option == 1) {
            int64_t created = 0;
            FileDates::regularFileDates(Note::documentFileForKey(item.key(), storage), &created, &modified);
            item.setCreatedOn(created);
        } else {
            FileDates::regularFileModifiedAt(documents.fd, QFile::encodeName(item.key()).constData(), &modified,
                                             versions ? &(*versions)[size_t(i)] : nullptr);
        }
        item.setUpdatedOn(modified);
    });
    return items;
}

void ListViewController::readTitles(ListItems& items, const std::vector<FileDates::Version>& versions,
                                    bool whole) const
{
    if (items.isEmpty())
        return;
    const int storage = items.first()->storage();
    auto cache = titleCaches_.find(storage);
    if (cache == titleCaches_.end())
        cache = titleCaches_.try_emplace(storage, ListTitleCache::fileForStorage(storage)).first;
    std::vector<ListTitleCache::Row> rows(size_t(items.size()));
    const OpenFolder headers(Note::headerDirectoryForStorage(storage));
    const OpenFolder markers(Note::indexDirectoryForStorage(storage));
    Slices::forEach(items.size(), [&](qsizetype i) {
        ListItem& item = *items[i];
        ListTitleCache::Row& row = rows[size_t(i)];
        row.key = item.key();
        row.version = versions[size_t(i)];
        if (const QString* title = cache->second.find(row.key, row.version)) {
            item.setTitle(*title);
            row.title = *title;
            return;
        }
        const QByteArray name = QFile::encodeName(row.key);
        // The store writes a note's header before the marker of the text it indexed: a marker that
        // matches the text file, looked at first, vouches for the header read after it.
        const NoteIndexMarker::Stamp text{row.version.size, row.version.modifiedSeconds,
                                          row.version.modifiedNanoseconds, true};
        const bool indexed = row.version.size >= 0 && NoteIndexMarker::stampAt(markers.fd, name.constData()) == text;
        const std::optional<QString> title = titleInHeaders(headers.fd, row.key);
        if (!title)
            return;
        item.setTitle(*title);
        if (indexed) {
            row.title = title;
            row.fresh = true;
        }
    });
    cache->second.keep(rows, whole);
}

QString ListViewController::headerTitle(const QString& key, int storage)
{
    return titleInHeaders(OpenFolder(Note::headerDirectoryForStorage(storage)).fd, key).value_or(QString());
}

bool ListViewController::sortsBefore(const ListItem& a, const ListItem& b, int64_t option)
{
    if (option == 1)
        return a.createdOn() > b.createdOn();
    if (option == 2)
        return a.title().compare(b.title(), Qt::CaseInsensitive) < 0;
    return a.updatedOn() > b.updatedOn();
}

void ListViewController::appendTitleOrderKey(const QString& title, std::u32string& key)
{
    char16_t last = 0;
    for (const QChar letter : title) {
        const char16_t unit = letter.unicode();
        const char32_t point = QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(last)
                                   ? QChar::surrogateToUcs4(last, unit)
                                   : char32_t(unit);
        last = unit;
        key.push_back(QChar::toCaseFolded(point));
    }
}

void ListViewController::sortListItems(ListItems& items, int64_t option)
{
    if (option != 2) {
        std::stable_sort(items.begin(), items.end(),
                         [option](const ListItemPtr& a, const ListItemPtr& b) { return sortsBefore(*a, *b, option); });
        return;
    }
    // Each title folded once rather than at every comparison, all keys in one buffer.
    std::u32string letters;
    std::vector<std::pair<size_t, size_t>> bounds;
    bounds.reserve(size_t(items.size()));
    for (const ListItemPtr& item : items) {
        const size_t start = letters.size();
        appendTitleOrderKey(item->title(), letters);
        bounds.emplace_back(start, letters.size() - start);
    }
    std::vector<std::pair<std::u32string_view, ListItemPtr>> keyed;
    keyed.reserve(size_t(items.size()));
    for (qsizetype i = 0; i < items.size(); ++i) {
        const auto [start, length] = bounds[size_t(i)];
        keyed.emplace_back(std::u32string_view(letters).substr(start, length), std::move(items[i]));
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (qsizetype i = 0; i < items.size(); ++i)
        items[i] = std::move(keyed[size_t(i)].second);
}

// Only rows that tie are looked at again: a listing of thousands seldom has more than a few.
void ListViewController::orderTiesByLatestChange(ListItems& items, int64_t option)
{
    for (auto run = items.begin(); run != items.end();) {
        const auto end = std::find_if(run + 1, items.end(), [&](const ListItemPtr& item) { return sortsBefore(**run, *item, option); });
        if (end - run > 1) {
            std::vector<std::pair<int64_t, ListItemPtr>> changed;
            for (auto it = run; it != end; ++it)
                changed.emplace_back(statusChangeTime(Note::documentFileForKey((*it)->key(), (*it)->storage())), *it);
            std::stable_sort(changed.begin(), changed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
            auto out = run;
            for (auto& [time, item] : changed)
                *out++ = std::move(item);
        }
        run = end;
    }
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
    items_ = std::move(loaded.items);
    archivedItems_ = std::move(loaded.archived);
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
