#pragma once

#include "Error.h"

#include <QString>

// The user's Trash, as the desktop's file managers keep it: the home trash
// folder in the user's data folder, with the item under "files" and a
// ".trashinfo" record of its origin and deletion date under "info". Items are
// given a free name there, so nothing in the trash is ever overwritten. The
// folders it makes and the items it moves in are the user's alone (0700,
// group and others' bits cleared).
namespace Trash {

// $XDG_DATA_HOME/Trash (else ~/.local/share/Trash); always an absolute path.
QString folder();

// Moves a file or folder into the trash; across devices it is copied, then
// removed. trashedPath receives where it now lies.
bool moveToTrash(const QString& path, QString* trashedPath = nullptr, Error* error = nullptr);

} // namespace Trash
