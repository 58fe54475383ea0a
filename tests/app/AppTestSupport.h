#pragma once

#include "Core.h"
#include "Store/AppleCloud.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <mutex>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* out) { *out << '[' << texts.join("|").toStdString() << ']'; }

// The cloud seam of the shell's tests: both cloud objects in one, recording every call in order and
// answering at once with what the test chose.
class RecordingCloud : public AppleCloud, public CKCloud, public std::enable_shared_from_this<RecordingCloud> {
public:
    static std::shared_ptr<RecordingCloud> shared();

    QStringList calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        calls_.clear();
        fetchResult = true;
        subscribeError = Error();
    }

    bool fetchResult = true;
    Error subscribeError;

    std::shared_ptr<CKCloud> ckCloud() const override
    {
        return std::const_pointer_cast<RecordingCloud>(shared_from_this());
    }
    void prepareNote(const NotePtr&, CommitHandler handler) override { commit("prepare", handler); }
    void commitNote(const NotePtr&, CommitHandler handler) override { commit("commit", handler); }
    void commitAndCloseNote(const NotePtr&, CommitHandler handler) override { commit("commitAndClose", handler); }
    void renameNote(const NotePtr&, const NotePtr&, AppleCloud::Handler handler) override { answer("rename", handler); }
    void moveNote(const NotePtr&, const NotePtr&, AppleCloud::Handler handler) override { answer("move", handler); }
    void deleteNote(const NotePtr&, AppleCloud::Handler handler) override { answer("delete", handler); }
    void startQuery() override { record("startQuery"); }
    void stopQuery() override { record("stopQuery"); }
    void wait(std::function<void()> block) override
    {
        record("wait");
        block();
    }

    void saveNote(const NotePtr&, Completion block) override { done("save", block); }
    void moveNote(const NotePtr&, const NotePtr&, Completion block) override { done("moveRecord", block); }
    void deleteNote(const NotePtr&, Completion block) override { done("deleteRecord", block); }
    void notifyDeleteNote(const NotePtr&, const FileTime&, Completion block) override { done("notifyDelete", block); }
    void fetchStorage(Completion block) override
    {
        record("fetchStorage");
        block(fetchResult);
    }
    void optimizeStorageIfLucky() override { record("optimizeStorageIfLucky"); }
    void subscribeUsingBlock(ErrorBlock block) override
    {
        record("subscribe");
        if (block)
            block(subscribeError);
    }
    void unsubscribeUsingBlock(ErrorBlock block) override
    {
        record("unsubscribe");
        if (block)
            block(subscribeError);
    }
    bool handleRemoteNotification(const QVariantMap& userInfo) override
    {
        record(QStringLiteral("push %1").arg(userInfo.value(QStringLiteral("id")).toString()));
        return true;
    }

private:
    void record(const QString& call)
    {
        std::lock_guard lock(mutex_);
        calls_.append(call);
    }
    void commit(const char* call, const CommitHandler& handler)
    {
        record(QString::fromLatin1(call));
        if (handler)
            handler(QDateTime(), Error());
    }
    void answer(const char* call, const AppleCloud::Handler& handler)
    {
        record(QString::fromLatin1(call));
        if (handler)
            handler(Error());
    }
    void done(const char* call, const Completion& block)
    {
        record(QString::fromLatin1(call));
        if (block)
            block(true);
    }

    mutable std::mutex mutex_;
    QStringList calls_;
};

// Runs against the private X session with a recorder as the user's application for a scheme,
// registered in this test's own home; the real xdg-open starts it.
class DesktopHandlerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Makes the recorder the handler of the MIME type.
    void registerRecorder(const QString& mimeType);
    // What the recorder was started with (its first argument), once it has been; empty when never.
    // Each call waits for the next start.
    QString received();

    QString recorder;     // the recorder's program file
    QString receivedPath; // where it writes its argument
private:
    QByteArray previousDisplay_;
};
