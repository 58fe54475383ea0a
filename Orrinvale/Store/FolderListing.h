#pragma once

#include "Error.h"

#include <QString>
#include <QStringList>

// Appends the folder's names in its own order, without "." and ".."; false
// when it cannot be listed, with errno and the error telling why.
bool listFolderNames(const QString& folder, QStringList* names, Error* error = nullptr);
