#pragma once

#include "files/Trash.h"

#include "TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>

// How many files in the Trash hold exactly these bytes.
inline int trashedCopies(const QByteArray& bytes)
{
    int copies = 0;
    QDirIterator files(Trash::folder() + QStringLiteral("/files"), QDir::Files | QDir::Hidden);
    while (files.hasNext())
        copies += TestSupport::readFile(files.next()) == bytes;
    return copies;
}
