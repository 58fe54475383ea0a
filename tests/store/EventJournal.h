#pragma once

#include "Store/Note.h"
#include "Store/NoteStorageListener.h"

#include "Dispatch.h"

#include <QStringList>

#include <functional>
#include <mutex>

// A listener that writes one line per event, in the order they came: a note
// as "storage/key", a missing tag as "-". With a name, each line starts with
// it and ends with "@" and the label of the queue it ran on; journals may
// share one list to show the order across listeners.
class EventJournal : public NoteStorageListener {
public:
    EventJournal() = default;
    EventJournal(QString name, QStringList* lines) : name_(std::move(name)), lines_(lines) {}

    std::function<void()> onEvent;

    QStringList lines() const
    {
        std::lock_guard lock(mutex());
        return *lines_;
    }
    void clear()
    {
        std::lock_guard lock(mutex());
        lines_->clear();
    }

    void noteDidUpdateFromRemoteServer(const NotePtr&) override { add(QStringLiteral("update")); }
    void noteDidDeleteFromRemoteServer(const NotePtr&) override { add(QStringLiteral("remoteDelete")); }
    void noteDidAddToStorage(const NotePtr& note, int storage, const QString& tag) override
    {
        add(QStringLiteral("add %1 %2 %3").arg(key(note)).arg(storage).arg(tag.isNull() ? QStringLiteral("-") : tag));
    }
    void noteDidDeleteFromStorage(const NotePtr& note, int storage, const QString& tag) override
    {
        add(QStringLiteral("delete %1 %2 %3").arg(key(note)).arg(storage).arg(tag.isNull() ? QStringLiteral("-") : tag));
    }
    void noteDidMoveTo(const NotePtr& before, const NotePtr& after) override
    {
        const bool onMain = DispatchQueue::main()->isCurrent();
        add(QStringLiteral("didMove %1>%2 on %3").arg(key(before), key(after), onMain ? "main" : "other"));
    }
    void noteWillMoveTo(const NotePtr& before, const NotePtr& after) override
    {
        add(QStringLiteral("willMove %1>%2").arg(key(before), key(after)));
    }
    void noteTagDidDeleteFromStorage(const QString& name, int tag) override
    {
        add(QStringLiteral("tagDelete %1 %2").arg(name).arg(tag));
    }
    void noteTagDidAddToStorage(const QString& name, int tag) override
    {
        add(QStringLiteral("tagAdd %1 %2").arg(name).arg(tag));
    }

private:
    static std::mutex& mutex()
    {
        static std::mutex shared;
        return shared;
    }
    static QString key(const NotePtr& note)
    {
        return note ? QString::number(note->storage()) + QLatin1Char('/') + note->key() : QStringLiteral("<none>");
    }
    void add(const QString& event)
    {
        {
            std::lock_guard lock(mutex());
            lines_->append(name_.isEmpty() ? event
                                           : name_ + QLatin1Char(' ') + event + QLatin1Char('@')
                                                 + DispatchQueue::currentLabel());
        }
        if (onEvent)
            onEvent();
    }

    QString name_;
    QStringList own_;
    QStringList* lines_ = &own_;
};
