#pragma once

#include <QString>
#include <QStringList>

// The texts a note has held on this computer (taken in, sent, or kept in a
// conflict), as short hashes, newest first, and which of them it last took in
// from elsewhere. Beside the link files; a text sent out carries the list, so
// a receiver can tell an edit made over its own text from one made beside it.
class NoteHistory {
public:
    static constexpr int Limit = 64;

    static QString hashOf(const QString& text);
    // Empty when none was kept.
    static NoteHistory load(const QString& key, int storage);
    void save(const QString& key, int storage) const;
    // A note renamed or moved keeps the texts it held under its old name;
    // they stay there too, for the old name's deletion to carry.
    static void copy(const QString& fromKey, int fromStorage, const QString& toKey, int toStorage);
    // The list as a record field or side file holds it: "hash hash ...".
    QString toField() const { return hashes.join(QLatin1Char(' ')); }
    // A list read from elsewhere, its text's own hash always in it.
    static QStringList fromField(const QString& field, const QString& text);

    bool contains(const QString& hash) const { return hashes.contains(hash); }
    // At the front, once.
    void add(const QString& hash);
    void merge(const QStringList& others);

    QStringList hashes;
    QString received;
};
