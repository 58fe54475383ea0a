#pragma once

#include "Record.h"
#include "files/FileTimes.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The record of one note in the record store: its name, its fields, the codec
// of its text and the rules by which a reader takes a record in. No state;
// callable on any thread.
class NoteRecord {
public:
    static inline const QString RecordType = QStringLiteral("Notes");
    static inline const QString TextKey = QStringLiteral("text");
    static inline const QString VersionKey = QStringLiteral("version");
    static inline const QString StateKey = QStringLiteral("state");
    static inline const QString CommitDateKey = QStringLiteral("commitDate");
    static inline const QString CreatedDateKey = QStringLiteral("createdDate");
    static inline const QString FileSizeKey = QStringLiteral("filesize");
    // The hashes of the texts its writer had held for the note ("hash hash ...");
    // readers that do not know it pass it by.
    static inline const QString HistoryKey = QStringLiteral("history");
    // The note's file name, carried where the record name holds it cut to fit.
    static inline const QString FileNameKey = QStringLiteral("filename");

    static constexpr int64_t Version = 40;
    static constexpr int64_t HighestVersion = 49;
    static constexpr int64_t CompressedFromVersion = 10;
    static constexpr int64_t StateLive = 0;
    static constexpr int64_t StateDeleted = 10;
    static constexpr int64_t MaximumFileSize = 900000;
    // An inflated text larger than this is refused rather than held in memory.
    static constexpr size_t MaximumInflatedSize = size_t(64) * 1024 * 1024;

    // "<storage's resource name>/<key>", the key cut to fit the store's
    // limit (Note::fittedKey); empty for a storage other than 1 or 2 or a key
    // that cannot name a file.
    static QString recordName(int storage, const QString& key);
    // On a record of that key: the whole key, where the record name cuts it.
    static void setFileName(Record& record, const QString& key);
    static RecordID recordID(int storage, const QString& key);
    // A name read back (the whole key where the record carries it): storage 0 (with the component found) is a garbage path.
    struct Name {
        QString key;
        QString storageName;
        int storage = 0;
    };
    static Name splitName(const QString& recordName);

    // Every write sets text, version, state, commit date and size; the
    // creation date only where the caller sets it.
    static void setLive(Record& record, const QByteArray& data, const FileTime& commitDate);
    static void setTombstone(Record& record, const FileTime& commitDate);
    static void setCreatedDate(Record& record, const FileTime& date);
    static std::optional<FileTime> commitDate(const Record& record);
    // A record date in whole seconds, cut toward zero: -0.5 s is 0.
    static int64_t wholeSeconds(const FileTime& date);

    // UTF-16 with a little-endian byte-order mark, gzip-compressed; empty for an empty text.
    static QByteArray dataFromString(const QString& text);
    // Inflated from version 10 on, then UTF-16 (a mark decides the byte
    // order, big-endian without one); nothing when either step fails.
    static std::optional<QString> stringFromData(const QByteArray& data, int64_t version);
    // An empty input is returned as it is.
    static QByteArray gzipDeflate(const QByteArray& data);
    // A gzip or zlib stream; nothing on a damaged or truncated stream or past MaximumInflatedSize.
    static std::optional<QByteArray> gzipInflate(const QByteArray& data);

    // A missing first date counts as newer or equal, and is never newer.
    static bool dateIsNewerOrEqualTo(const std::optional<FileTime>& date, const FileTime& other);
    static bool dateIsNewerThan(const std::optional<FileTime>& date, const FileTime& other);

    // What a reader does with a record, step by step before the link files decide.
    enum class Admission { Accepted, TooNew, TooOld, TooBig, GarbagePath };
    struct Admitted {
        Admission admission = Admission::Accepted;
        Name name;
    };
    static Admitted admit(const Record& record);
    // After the link files: what the record asks of this computer.
    enum class Change { Write, RefusedEmpty, Delete, RefusedDeleteWithText, UnknownState };
    static Change change(const Record& record);
};
