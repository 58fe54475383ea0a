#pragma once

#include "Core.h"
#include "Store/Note.h"
#include "Store/NoteHeaderFile.h"
#include "Store/NoteIndexMarker.h"
#include "Store/NoteMetaFile.h"
#include "Store/NoteSearchIndex.h"
#include "Store/NoteSearchRow.h"

#include "SLDatabase.h"
#include "SLResultSet.h"
#include "files/FileDates.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <gtest/gtest.h>

// Every search side table as text: the titles, the keys, and each run of the
// trigram index with its notes.
inline QStringList sideIndexRows()
{
    QStringList all;
    Core::shared().syncDatabase([&](SLDatabase& db) {
        ASSERT_TRUE(db.executeUpdate(QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS temp.runs USING "
                                                    "fts5vocab(side, notes_word_runs, 'instance')")));
        for (const char* sql : {"SELECT docid, title FROM notes_titles ORDER BY docid",
                                "SELECT docid, key FROM notes_keys ORDER BY docid",
                                "SELECT term, doc FROM temp.runs ORDER BY term, doc"}) {
            SLResultSet r = db.executeQuery(QString::fromLatin1(sql));
            while (r.next())
                all.append(r.stringForColumnIndex(0) + QLatin1Char('|') + r.stringForColumnIndex(1));
        }
    });
    return all;
}

// The search side indexes as the next search takes them (filled afresh first
// when their marks say they are behind), against a fill afresh: a crash
// between the notes' file and the side file must not leave marks that claim
// rows the indexes do not hold.
inline bool sideIndexesAsAFillAfresh()
{
    Core::shared().syncDatabase([](SLDatabase& db) { NoteSearchIndex::titleRows(db, QStringLiteral("x"), 1, false); });
    const QStringList answered = sideIndexRows();
    Core::shared().syncDatabase([](SLDatabase& db) {
        NoteSearchIndex::leaveBehind(db);
        NoteSearchIndex::create(db);
    });
    return answered == sideIndexRows();
}

// Everything in the store that disagrees with its text files, one line each:
// a note's row, header, marker or tag links, a meta file missing or dated
// before its text; search side indexes unlike a fill afresh; a row or link whose
// file is gone; a save temporary left behind. Empty for a healthy store.
inline QStringList storeDisagreements()
{
    QStringList problems;
    const auto readAll = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QHash<QString, NoteSearchRow> rows;
    Core::shared().syncDatabase([&](SLDatabase& db) {
        SLResultSet r = db.executeQuery(QStringLiteral("SELECT key, title, content, folder, hashtag, mention FROM notes"));
        while (r.next()) {
            NoteSearchRow row;
            row.key = r.stringForColumnIndex(0);
            row.title = r.stringForColumnIndex(1);
            row.content = r.stringForColumnIndex(2);
            row.folder = r.stringForColumnIndex(3);
            row.hashtag = r.stringForColumnIndex(4);
            row.mention = r.stringForColumnIndex(5);
            if (rows.contains(row.key))
                problems << QStringLiteral("two rows for %1").arg(row.key);
            rows.insert(row.key, row);
        }
    });
    QSet<QString> expectedLinks;
    for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
        const QDir folder(Note::documentDirectoryForStorage(storage));
        for (const QString& key : folder.entryList(QDir::Files)) {
            const QString document = folder.filePath(key);
            auto note = std::make_shared<Note>(key, storage);
            if (!note->restoreText()) {
                problems << QStringLiteral("%1 unreadable").arg(document);
                continue;
            }
            note->_reloadHeader();
            QStringList hashtags, mentions, linked, linkedMentions;
            Note::fillHashtags(&hashtags, &mentions, note->text(), true);
            Note::fillHashtags(&linked, &linkedMentions, note->text(), storage == NoteStorageInbox);
            const QString searchKey = NoteSearchRow::searchKey(storage, key);
            const NoteSearchRow expected(storage, key, note->title(), note->text(), hashtags, mentions);
            const NoteSearchRow actual = rows.take(searchKey);
            if (std::tie(actual.key, actual.title, actual.content, actual.folder, actual.hashtag, actual.mention)
                != std::tie(expected.key, expected.title, expected.content, expected.folder, expected.hashtag,
                            expected.mention))
                problems << QStringLiteral("row of %1: \"%2|%3|%4\"").arg(searchKey, actual.title, actual.hashtag, actual.content);
            if (readAll(Note::headerFileForKey(key, storage)) != NoteHeaderFile{note->title(), note->summary()}.data())
                problems << QStringLiteral("header of %1").arg(searchKey);
            NoteMetaFile meta;
            if (!meta.read(readAll(Note::metaFileForKey(key, storage))))
                problems << QStringLiteral("no meta for %1").arg(searchKey);
            else if (meta.updatedOn < FileDates::modificationDate(document))
                problems << QStringLiteral("meta of %1 dated %2").arg(searchKey).arg(meta.updatedOn);
            if (NoteIndexMarker::stampOf(Note::indexFileForKey(key, storage)) != NoteIndexMarker::stampOf(document))
                problems << QStringLiteral("marker of %1").arg(searchKey);
            for (const auto& [kind, tags] : {std::pair{NoteTagHashtag, linked}, std::pair{NoteTagMention, linkedMentions}})
                for (const QString& tag : tags)
                    expectedLinks << Note::linkDirectoryForTag(kind, tag, storage) + QLatin1Char('/') + key;
        }
    }
    for (const QString& ghost : rows.keys())
        problems << QStringLiteral("ghost row %1").arg(ghost);
    if (!sideIndexesAsAFillAfresh())
        problems << QStringLiteral("side indexes unlike a fill afresh");
    QDirIterator links(Note::cachesRoot() + QStringLiteral("/Link"), QDir::Files, QDirIterator::Subdirectories);
    while (links.hasNext()) {
        const QString link = links.next();
        if (!link.endsWith(QLatin1String("/.meta")) && !expectedLinks.remove(link))
            problems << QStringLiteral("stray link %1").arg(link);
    }
    for (const QString& missing : std::as_const(expectedLinks))
        problems << QStringLiteral("missing link %1").arg(missing);
    for (const QString& root : {Note::documentRoot(), Note::cachesRoot()}) {
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (QFileInfo(path).fileName().startsWith(QLatin1String(".save-")))
                problems << QStringLiteral("temporary %1").arg(path);
        }
    }
    problems.sort();
    return problems;
}
