#pragma once

#include "../store/ScriptedCloud.h"

#include "Core.h"

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& texts, std::ostream* out) { *out << '[' << texts.join("|").toStdString() << ']'; }

// The cloud seam of these tests, Core's cloud for the whole program: the scripted cloud of the store
// tests, whose record side also logs the drive's watch, so one log shows the order of every call.
class RecordingCKCloud : public ScriptedCKCloud {
public:
    Error subscribeError; // what (un)subscribing answers
    void log(const QString& call) { record(call); }
    void subscribeUsingBlock(ErrorBlock block) override { answer(QStringLiteral("subscribe"), block); }
    void unsubscribeUsingBlock(ErrorBlock block) override { answer(QStringLiteral("unsubscribe"), block); }

private:
    void answer(const QString& call, const ErrorBlock& block)
    {
        record(call);
        if (block)
            block(subscribeError);
    }
};

class RecordingCloud : public ScriptedAppleCloud {
public:
    RecordingCloud() { scriptedCKCloud = records; }
    static RecordingCloud& shared();
    void startQuery() override { records->log(QStringLiteral("startQuery")); }
    void stopQuery() override { records->log(QStringLiteral("stopQuery")); }
    // The calls since the last mark; a mark also sets the answers back to success.
    QStringList calls() const { return records->calls().mid(mark_); }
    void mark()
    {
        mark_ = records->calls().size();
        records->result = true;
        records->subscribeError = Error();
    }

    const std::shared_ptr<RecordingCKCloud> records = std::make_shared<RecordingCKCloud>();

private:
    qsizetype mark_ = 0;
};

// Runs against the private X session with a recorder as the user's application for a MIME type,
// registered in this test's own home; the real xdg-open starts it.
class DesktopHandlerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void registerRecorder(const QString& mimeType);
    // The first argument of the recorder's next start; empty when it never came.
    QString received();

    QString recorder;     // the recorder's program file
    QString receivedPath; // where it writes its argument
private:
    QByteArray previousDisplay_;
};
