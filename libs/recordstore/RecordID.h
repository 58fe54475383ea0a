#pragma once

#include <QHash>
#include <QString>

#include <compare>

// A record's identity: its name within a zone of the database.
struct RecordID {
    QString recordName;
    QString zoneName = defaultZoneName();

    static QString defaultZoneName() { return QStringLiteral("_defaultZone"); }

    friend bool operator==(const RecordID&, const RecordID&) = default;
    friend bool operator<(const RecordID& a, const RecordID& b)
    {
        return std::tie(a.zoneName, a.recordName) < std::tie(b.zoneName, b.recordName);
    }
};

inline size_t qHash(const RecordID& id, size_t seed = 0)
{
    return qHashMulti(seed, id.zoneName, id.recordName);
}
