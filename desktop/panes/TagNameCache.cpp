#include "panes/TagNameCache.h"

#include "Search/Score.h"
#include "Store/Note.h"

#include <algorithm>

namespace {

int slot(int kind)
{
    return kind == NoteTagMention ? 1 : 0;
}

QString signOf(int kind)
{
    return kind == NoteTagMention ? QStringLiteral("@") : QStringLiteral("#");
}

} // namespace

QList<ListItemPtr> TagNameCache::search(const QString& query, int kind)
{
    QList<ListItemPtr> items;
    const QString sign = signOf(kind);
    for (const QString& name : names(kind)) {
        const double score =
            Score::scoreAgainst(sign + name.toLower(), query, std::nullopt, ScoreOptionDivideByStringLength);
        if (score > 0)
            items.append(std::make_shared<ListItem>(ListItemTagEntry, name, sign + name, query, kind, score));
    }
    std::stable_sort(items.begin(), items.end(), [](const ListItemPtr& a, const ListItemPtr& b) {
        return a->score() > b->score();
    });
    return items;
}

// The sign alone rates every tag of the kind: the store's own search lists them, spellings checked.
QStringList TagNameCache::names(int kind)
{
    uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (names_[slot(kind)])
            return *names_[slot(kind)];
        generation = generation_[slot(kind)];
    }
    QStringList read;
    Note::searchTagWithQuery(signOf(kind), kind, [&](const QList<ListItemPtr>& all) {
        for (const ListItemPtr& item : all)
            read.append(item->key());
    });
    std::sort(read.begin(), read.end(), [](const QString& a, const QString& b) { return a.toLower() < b.toLower(); });
    std::lock_guard lock(mutex_);
    if (generation_[slot(kind)] == generation)
        names_[slot(kind)] = read;
    return read;
}

void TagNameCache::invalidate(int kind)
{
    std::lock_guard lock(mutex_);
    names_[slot(kind)].reset();
    ++generation_[slot(kind)];
}
