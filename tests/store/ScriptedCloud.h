#pragma once

#include "Store/AppleCloud.h"

#include <QStringList>

#include <mutex>

// Cloud test doubles: they record every call by name and answer at once, on
// the caller's thread, with the results a test chose.
class CallLog {
public:
    QStringList calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }

protected:
    void record(const QString& call)
    {
        std::lock_guard lock(mutex_);
        calls_.append(call);
    }

private:
    mutable std::mutex mutex_;
    QStringList calls_;
};

class ScriptedCKCloud : public CKCloud, public CallLog {
public:
    bool result = true;

    void saveNote(const NotePtr&, Completion block) override { answer(QStringLiteral("save"), block); }
    void moveNote(const NotePtr&, const NotePtr&, Completion block) override { answer(QStringLiteral("move"), block); }
    void deleteNote(const NotePtr&, Completion block) override { answer(QStringLiteral("delete"), block); }
    void notifyDeleteNote(const NotePtr&, const FileTime&, Completion block) override
    {
        answer(QStringLiteral("notifyDelete"), block);
    }
    void wait(std::function<void()> block) override
    {
        record(QStringLiteral("wait"));
        block();
    }
    void fetchStorage(Completion block) override { answer(QStringLiteral("fetch"), block); }
    void optimizeStorageIfLucky() override { record(QStringLiteral("optimize")); }
    void subscribeUsingBlock(ErrorBlock block) override { answerError(QStringLiteral("subscribe"), block); }
    void unsubscribeUsingBlock(ErrorBlock block) override { answerError(QStringLiteral("unsubscribe"), block); }
    bool handleRemoteNotification(const QVariantMap&) override
    {
        record(QStringLiteral("push"));
        return result;
    }

private:
    void answer(const QString& call, const Completion& block)
    {
        record(call);
        if (block)
            block(result);
    }
    void answerError(const QString& call, const ErrorBlock& block)
    {
        record(call);
        if (block)
            block(Error());
    }
};

class ScriptedAppleCloud : public AppleCloud, public CallLog {
public:
    QDateTime commitDate; // null: the drive saved nothing
    Error error;
    std::shared_ptr<ScriptedCKCloud> scriptedCKCloud = std::make_shared<ScriptedCKCloud>();

    std::shared_ptr<CKCloud> ckCloud() const override { return scriptedCKCloud; }
    void prepareNote(const NotePtr&, CommitHandler handler) override { commit(QStringLiteral("prepare"), handler); }
    void commitNote(const NotePtr&, CommitHandler handler) override { commit(QStringLiteral("commit"), handler); }
    void commitAndCloseNote(const NotePtr&, CommitHandler handler) override
    {
        commit(QStringLiteral("commitAndClose"), handler);
    }
    void renameNote(const NotePtr&, const NotePtr&, Handler handler) override { answer(QStringLiteral("rename"), handler); }
    void moveNote(const NotePtr&, const NotePtr&, Handler handler) override { answer(QStringLiteral("move"), handler); }
    void deleteNote(const NotePtr&, Handler handler) override { answer(QStringLiteral("delete"), handler); }

private:
    void commit(const QString& call, const CommitHandler& handler)
    {
        record(call);
        if (handler)
            handler(commitDate, error);
    }
    void answer(const QString& call, const Handler& handler)
    {
        record(call);
        if (handler)
            handler(error);
    }
};
