#pragma once

#include "Store/NoteStorageListener.h"

#include "Dispatch.h"

#include <QStringList>

#include <functional>
#include <mutex>

// A listener that writes one line per event: its name, the event with its
// arguments, and the label of the queue it ran on.
class EventJournal : public NoteStorageListener {
public:
    EventJournal(QString name, QStringList* lines) : name_(std::move(name)), lines_(lines) {}

    std::function<void()> onEvent;

    void noteDidUpdateFromRemoteServer(const NotePtr&) override { add(QStringLiteral("update")); }
    void noteDidDeleteFromRemoteServer(const NotePtr&) override { add(QStringLiteral("remoteDelete")); }
    void noteDidAddToStorage(const NotePtr&, int storage, const QString& tag) override
    {
        add(QStringLiteral("add %1 %2").arg(storage).arg(tag.isNull() ? QStringLiteral("null") : tag));
    }
    void noteDidDeleteFromStorage(const NotePtr&, int storage, const QString& tag) override
    {
        add(QStringLiteral("delete %1 %2").arg(storage).arg(tag.isNull() ? QStringLiteral("null") : tag));
    }
    void noteDidMoveTo(const NotePtr& before, const NotePtr& after) override
    {
        add(QStringLiteral("didMove %1").arg(before != after));
    }
    void noteWillMoveTo(const NotePtr& before, const NotePtr& after) override
    {
        add(QStringLiteral("willMove %1").arg(before != after));
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
    void add(const QString& event)
    {
        {
            static std::mutex mutex;
            std::lock_guard lock(mutex);
            lines_->append(name_ + QLatin1Char(' ') + event + QLatin1Char('@') + DispatchQueue::currentLabel());
        }
        if (onEvent)
            onEvent();
    }

    QString name_;
    QStringList* lines_;
};
