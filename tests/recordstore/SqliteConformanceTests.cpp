#include "Container.h"
#include "PushCenter.h"
#include "RecordStoreError.h"
#include "SLDatabase.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <string>

namespace {

// Each backend object owns one store file under the test home.
struct SqliteBackend {
    static std::string name() { return "Sqlite"; }

    SqliteBackend()
    {
        static int stores = 0;
        folder = TestSupport::home() + QStringLiteral("/stores/%1").arg(++stores);
        QDir().mkpath(folder);
        path = folder + QStringLiteral("/net.brindlewick.notes.sqlite");
    }

    BackendConfig config(const QString& clientID, std::shared_ptr<PushCenter> center) const
    {
        return {path, clientID, std::move(center)};
    }

    static Error openAt(const QString& at)
    {
        Error error;
        EXPECT_FALSE(Container::open("net.brindlewick.notes", {at, "C", PushCenter::create()}, &error));
        return error;
    }

    // A folder where the file should be: SQLite cannot open it.
    Error openUnreachable()
    {
        const QString at = folder + "/unreachable.sqlite";
        QDir().mkpath(at);
        return openAt(at);
    }

    Error openDamaged()
    {
        const QByteArray garbage = QByteArray("this is no database, ").repeated(400);
        const QString at = folder + "/damaged.sqlite";
        TestSupport::writeFile(at, garbage);
        const Error error = openAt(at);
        EXPECT_EQ(TestSupport::readFile(at), garbage) << "the damaged file was changed";
        EXPECT_FALSE(QFile::exists(at + "-wal"));
        return error;
    }

    Error openNewerSchema()
    {
        EXPECT_TRUE(Container::open("net.brindlewick.notes", config("C", PushCenter::create())));
        auto db = SLDatabase::databaseWithPath(path);
        EXPECT_TRUE(db->open());
        EXPECT_TRUE(db->executeUpdate("UPDATE meta SET value = '2' WHERE key = 'schema_version'"));
        db->close();
        return openAt(path);
    }

    QString folder;
    QString path;
};

} // namespace

using RecordStoreBackends = ::testing::Types<SqliteBackend>;
#include "RecordStoreConformance.h"
