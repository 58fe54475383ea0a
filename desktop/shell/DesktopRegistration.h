#pragma once

#include <QString>

// "brindlewick --register": this user's desktop learns the program: its entry goes to
// $XDG_DATA_HOME/applications, starting this very program file, and it becomes the handler of
// brindlewick:// links. Nothing outside the user's own folders changes.
namespace DesktopRegistration {

inline constexpr char EntryName[] = "brindlewick.desktop";

// The entry with Exec naming the program, quoted for the desktop entry format where need be.
QString entryText(const QString& program);
// False, with the reason, when the entry cannot be written or xdg-mime fails.
bool registerForUser(const QString& program, QString* failure = nullptr);

} // namespace DesktopRegistration
