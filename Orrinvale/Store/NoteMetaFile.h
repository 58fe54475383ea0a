#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The record of a note's caret, scroll offset, selection, dates and branch
// signature, in version 6; older versions are read as far as they go.
struct NoteMetaFile {
    static constexpr uint32_t Version = 6;

    int64_t scrollCaret = 0;
    double scrollCaretOffset = 0;
    int64_t selectedCaret = 0;
    int64_t createdOn = 0;
    int64_t updatedOn = 0;
    QString branchSignature;

    QByteArray data() const;
    // Overwrites the fields the record holds, in order, and stops at the end
    // of the data. A version of 0 or below changes nothing; below 6 the
    // selection becomes 0. False when nothing was read.
    bool read(const QByteArray& data);
};
