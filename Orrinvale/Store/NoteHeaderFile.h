#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The record of a note's title and summary, in version 6.
struct NoteHeaderFile {
    static constexpr uint32_t Version = 6;

    QString title;
    QString summary;

    QByteArray data() const;
    // Reads both texts when the version is above 0, stopping at the end of
    // the data. False when nothing was read.
    bool read(const QByteArray& data);
};
