#pragma once

#include <QString>
#include <QStringList>

// Where the application keeps its files, and the names it goes by. Every folder
// follows the XDG variables, so a test redirects all of them with its own home.
namespace Folders {

QString displayName();         // "Brindlewick"
QString bundleIdentifier();    // "net.brindlewick.Brindlewick"
QString productIdentifier();   // "net.brindlewick.notes": queue labels and the record container
QString queueLabel(const QString& suffix); // productIdentifier() + suffix, e.g. ".file"

QString home();
QString documents();           // $XDG_DOCUMENTS_DIR (else ~/Documents) + "/Brindlewick"
QString caches();              // $XDG_CACHE_HOME (else ~/.cache) + "/brindlewick"
QString library();             // $XDG_STATE_HOME (else ~/.local/state): holds "Logs"
QString config();              // $XDG_CONFIG_HOME (else ~/.config) + "/brindlewick"
QString data();                // $XDG_DATA_HOME (else ~/.local/share) + "/brindlewick"
QString temporary();           // on the home volume, so a rename out of it never crosses devices

// Creates the folder and its parents; true when it exists afterwards. The
// folders it creates are the user's alone (0700): the application's caches,
// state, settings and data. Notes keep the user's umask.
bool ensure(const QString& path);
// Creates the file empty and the user's alone (0600) unless it exists; false
// when it is still missing. What writes it later keeps the mode.
bool createPrivateFile(const QString& file);

// Clears the group's and others' bits of each path that is there, is the
// user's own and is no link: what earlier versions made readable by others.
// Only the paths named are looked at, nothing below them.
void makePrivate(const QStringList& paths);

// Moves this process, before it uses any folder, into a home of its own: HOME
// and the XDG folders above point inside it and are created.
void placeInHome(const QString& root);

// Sets the Qt application and organisation names from the identity above.
void applyApplicationIdentity();

} // namespace Folders
