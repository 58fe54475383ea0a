#pragma once

#include "Error.h"

#include <QString>
#include <QStringList>

// Appends the folder's names in its own order, without "." and ".."; false
// when it cannot be listed, with errno and the error telling why.
bool listFolderNames(const QString& folder, QStringList* names, Error* error = nullptr);

// True when the folder holds an entry whose name is not valid in the file-name encoding and is listed
// as `name` (its invalid bytes shown as U+FFFD): a file that cannot be opened by that name.
bool holdsUndecodableName(const QString& folder, const QString& name);
