#pragma once

// One computer of an end-to-end sync test: a sync-sim process with a home of
// its own, driven line by line.
#include "../recordstore/PostgresTestServer.h"

#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

#include <map>

// Failures show texts, not bytes.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

using Notes = std::map<QString, QString>; // "storage/key" -> text

class Machine {
public:
    Machine(const QString& name, const QString& home) : name(name), home_(home) { start(); }
    ~Machine()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(20000))
            process_.kill();
    }

    void start()
    {
        process_.setStandardErrorFile(home_ + QStringLiteral(".log"), QIODevice::Append);
        QStringList arguments{QStringLiteral("--home"), home_};
        if (qEnvironmentVariableIsSet("SYNC_VERBOSE")) // every message into the home's ".log"
            arguments << QStringLiteral("--verbose");
        process_.start(QStringLiteral(CLI_DIR "/sync-sim"), arguments);
        EXPECT_TRUE(process_.waitForStarted()) << "cannot start " << CLI_DIR << "/sync-sim";
    }
    // SIGKILL, then a new process on the same home.
    void killAndRestart()
    {
        process_.kill();
        process_.waitForFinished(20000);
        start();
    }
    void send(const QString& command)
    {
        process_.write((command + QLatin1Char('\n')).toUtf8());
        process_.waitForBytesWritten();
    }
    QString answer()
    {
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(30000))
                return QStringLiteral("error no answer");
        return QString::fromUtf8(process_.readLine()).trimmed();
    }
    // The answer after "ok"; a failure names the machine and the command.
    QString ok(const QString& command)
    {
        send(command);
        const QString answer = this->answer();
        EXPECT_TRUE(answer.startsWith(QLatin1String("ok"))) << qPrintable(name) << ": " << qPrintable(command)
                                                             << " -> " << qPrintable(answer);
        return answer.mid(3);
    }
    QJsonObject dump() { return QJsonDocument::fromJson(ok(QStringLiteral("dump")).toUtf8()).object(); }
    // Notes with readable names: placeholder-named ones never reach the record store.
    Notes notes()
    {
        Notes notes;
        for (const QJsonValue& entry : dump().value(QStringLiteral("notes")).toArray()) {
            const QJsonObject note = entry.toObject();
            const QString key = note.value(QStringLiteral("key")).toString();
            if (!key.startsWith(QLatin1String("Untitled Note")))
                notes[note.value(QStringLiteral("storage")).toString() + QLatin1Char('/') + key] =
                    note.value(QStringLiteral("text")).toString();
        }
        return notes;
    }
    QStringList trash() { return dump().value(QStringLiteral("trash")).toVariant().toStringList(); }
    QStringList trashTexts() { return dump().value(QStringLiteral("trashTexts")).toVariant().toStringList(); }

    const QString name;

private:
    QString home_;
    QProcess process_;
};

inline QString encoded(const QString& key)
{
    return QString::fromUtf8(QUrl::toPercentEncoding(key));
}

inline QStringList texts(const Notes& notes)
{
    QStringList all;
    for (const auto& [where, text] : notes)
        all.append(text);
    all.sort();
    return all;
}


// The sync folder ("<root>/drive") and record store of one test's computers:
// a SQLite file, or a fresh schema of the test server. False when the test
// ends here (no server: skipped, or failed under CI).
inline bool makeSharedPlace(const QString& prefix, const char* backend, QString& root, QString& store,
                            std::unique_ptr<PostgresTestBackend>& postgres)
{
    static int generation = 0;
    root = TestSupport::home() + QStringLiteral("/%1-%2").arg(prefix).arg(++generation);
    QDir().mkpath(root + QStringLiteral("/drive"));
    if (QLatin1String(backend) != QLatin1String("Postgres")) {
        store = root + QStringLiteral("/store.sqlite");
        return true;
    }
    postgres = std::make_unique<PostgresTestBackend>();
    postgres->setUp();
    if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure())
        return false;
    store = PostgresTest::dsnFor(postgres->schema);
    return true;
}
