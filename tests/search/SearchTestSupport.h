#pragma once

#include "../store/StoreTestSupport.h"

#include "Core.h"
#include "Store/ListItem.h"
#include "Store/Note.h"
#include "Search/Score.h"

#include "SLDatabase.h"

#include <QDir>
#include <QStringList>

#include <gtest/gtest.h>

// Every search test runs on the shared Core, pointed at folders under the test
// home; each test starts with an empty search table and no tag folders.
class SearchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { sharedTestCore(); }

    void SetUp() override
    {
        QDir(Core::shared().cachesDirectory() + QStringLiteral("/Link")).removeRecursively();
        Core::shared().syncDatabase(
            [](SLDatabase& db) { ASSERT_TRUE(db.executeUpdate(QStringLiteral("DELETE FROM notes"))); });
    }

    // A row as the commit writes it: the key column is the storage's search
    // name, a slash and the file name.
    static void addRow(const QString& key, const QString& title, const QString& content,
                       const QString& folder = QStringLiteral("inbox"), const QString& hashtag = QString(),
                       const QString& mention = QString())
    {
        Core::shared().syncDatabase([&](SLDatabase& db) {
            ASSERT_TRUE(db.executeUpdate(QStringLiteral("INSERT INTO notes(key, title, content, folder, hashtag, "
                                                        "mention) VALUES(?, ?, ?, ?, ?, ?)"),
                                         folder + QLatin1Char('/') + key, title, content, folder, hashtag, mention));
        });
    }

    struct Results {
        Note::ListItemList notes;
        Note::ListItemList archived;
        int calls = 0;
    };

    static Results search(const QString& query, int storage = 0, const QString& tag = QString())
    {
        Results results;
        Core::shared().syncDatabase([&](SLDatabase& db) {
            Note::searchDatabase(db, query, storage, tag,
                                 [&](const Note::ListItemList& notes, const Note::ListItemList& archived) {
                                     results.notes = notes;
                                     results.archived = archived;
                                     ++results.calls;
                                 });
        });
        return results;
    }

public:
    // "kind:key" per row, in order.
    static QStringList rows(const Note::ListItemList& items)
    {
        QStringList out;
        for (const ListItemPtr& item : items)
            out.append(QString::number(item->tag()) + QLatin1Char(':') + item->key());
        return out;
    }
};
