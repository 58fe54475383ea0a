#pragma once

#include "files/FileDates.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>

#include <mutex>
#include <optional>

// Which tag folders of a kind hold a link of each note, so that bringing a
// note's links in line visits only those folders instead of probing every
// folder of the kind (a thousand tags cost three thousand system calls). The
// folders are read once, at the first question after the application starts
// or after the kind's folder was replaced, and kept current by the store's
// own link writes. A folder named for a link that is gone only costs a look.
// Notes are kept by a 64-bit hash of storage and key, not by name: about
// 130 bytes a note of two tags (6 MB at 50,000) rather than a copy of every
// key. Two keys of one hash (odds near 1 in 10^10 at 50,000 notes) share
// one entry: the first to lose a tag would hide the other's link there.
// Each tag's spelling file is remembered as read, with its version, so a
// note that leaves it as it is looks at it without reading it.
class TagLinkIndex {
public:
    static TagLinkIndex& shared();

    // The folders that may hold the note's link; the first question after a
    // read adds the folders a pass over every folder would tidy away (no
    // storage folder with links left, an empty storage folder, a loose file).
    // The kind's folder is open (or -1 when missing): its identity is read
    // from there, not looked up by path.
    QStringList foldersFor(const QString& kindFolder, int kindFd, int storage, const QString& key);
    // The note's links under the tags given came into being, or went: one
    // pass over the note's list for all of them, however many.
    void linked(const QString& kindFolder, int storage, const QString& key, const QStringList& tags);
    // True when the tag's storage folder holds a link the index knows of, so
    // trying to remove it as empty would fail: the try is left out.
    bool holdsLinks(const QString& kindFolder, const QString& tag, int storage);
    // False when the tag's storage folder is known to be missing (as read, or
    // found so or removed since), so trying to remove it would only fail.
    bool mayHoldFolder(const QString& kindFolder, const QString& tag, int storage);
    // For each tag, true when links the index knows of keep its folder as it
    // is: a storage folder holds links and the other holds links or is known
    // to be missing, so a tidy would try nothing. One question for a note's
    // tags, not one each.
    QList<bool> keptByLinks(const QString& kindFolder, const QStringList& tags);
    // The storage folder was made, or a removal found it there or not.
    void folderPresent(const QString& kindFolder, const QString& tag, int storage, bool present);
    void unlinked(const QString& kindFolder, int storage, const QString& key, const QStringList& tags);
    // True when the tag's spelling file (its path below the kind's folder)
    // holds exactly these bytes. A version of the file seen before costs one
    // look instead of a read.
    bool holdsSpelling(const QString& kindFolder, int kindFd, const QString& tag, const QByteArray& path,
                       const QByteArray& spelling);
    // The next question reads the folders again; the start-up rebuild calls it
    // so that changes made while the application was closed are seen.
    void forget();

private:
    TagLinkIndex() = default;

    // Tells a replaced folder from the one that was read.
    struct Identity {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 born = 0;
        bool operator==(const Identity&) const = default;
    };
    struct Kind {
        Identity identity;
        QHash<size_t, QStringList> links;
        // One copy of each tag's name, shared by every note linked under it.
        QSet<QString> names;
        // Per tag folder, inbox then archive: the links and whether the
        // storage folder is there.
        struct StorageFolder {
            int links = 0;
            bool present = false;
        };
        QHash<QString, std::array<StorageFolder, 2>> held;
        QStringList untidy;
        // Per tag folder, the spelling file as last read.
        struct Spelling {
            FileDates::Version version;
            QByteArray text;
        };
        QHash<QString, Spelling> spellings;
    };

    static Identity identityOf(int at, const char* name, int flags);
    static size_t noteHash(int storage, const QString& key);
    // The spelling file's text as last read, when the file is still that version.
    std::optional<QByteArray> rememberedSpelling(const QString& kindFolder, int kindFd, const QString& tag,
                                                 const QByteArray& path);
    // Reads the file (at most one byte more than expected) and remembers it.
    QByteArray readSpelling(const QString& kindFolder, int kindFd, const QString& tag, const QByteArray& path,
                            qsizetype expected);
    static Kind::StorageFolder& heldIn(Kind& kind, const QString& tag, int storage);
    static void read(const QString& kindFolder, Kind& kind);
    // The kind read for the folder, if any.
    Kind* find(const QString& kindFolder);
    Kind& current(const QString& kindFolder, const Identity& identity);
    // The kind as last read: a link write follows the question that checked
    // the folder, so it is not looked up again.
    Kind& known(const QString& kindFolder);

    std::mutex mutex_;
    QHash<QString, Kind> kinds_;
    // The kind last asked for, until another is taken in.
    QString lastFolder_;
    Kind* last_ = nullptr;
};
