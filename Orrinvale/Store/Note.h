#pragma once

#include <QString>

#include <memory>

class Note;
using NotePtr = std::shared_ptr<Note>;

// Where a note lives; 0 is none. Tag kinds share the numbering, because the
// panes and the search pass a tag kind where a storage goes.
constexpr int NoteStorageInbox = 1;
constexpr int NoteStorageArchive = 2;
constexpr int NoteTagHashtag = 4;
constexpr int NoteTagMention = 5;

// Synchronisation targets that keep a link file per note.
constexpr int NoteServiceCloud = 1;
constexpr int NoteServiceCloudKit = 2;
constexpr int NoteServiceTrash = 3;

// One note. The path operations are the only place that builds the path of a
// note's text file or side files. A key or tag name that could leave its
// folder ("", ".", "..", a "/" or NUL, over 255 UTF-8 bytes) gives an empty
// path, and every writer refuses an empty path.
class Note {
public:
    // The two roots every path hangs from; the shared Core sets them once.
    static void setRootDirectories(const QString& documentDirectory, const QString& cachesDirectory);
    static QString documentRoot();
    static QString cachesRoot();

    // Names and numbers
    static QString resourceNameForStorage(int storage);
    static int storageKeyForResourceName(const QString& name);
    static QString searchNameForStorage(int storage);
    static int storageKeyForSearchName(const QString& name);
    static QString resourceNameForService(int service);
    static QString resourceNameForTag(int tag);
    static QString localizedNameForStorage(int storage);
    static QString localizedNameForHashtag(const QString& name);
    static QString localizedNameForMention(const QString& name);
    static QString localizedAccessibilityLabelForHashtag(const QString& name);
    static QString localizedAccessibilityLabelForMention(const QString& name);

    // Directories
    static QString documentDirectoryForStorage(int storage);
    static QString metaDirectoryForStorage(int storage);
    static QString headerDirectoryForStorage(int storage);
    static QString indexDirectoryForStorage(int storage);
    static QString linkDirectoryForService(int service);
    static QString linkDirectoryForService(int service, int storage);
    static QString linkDirectoryForTag(int tag);
    static QString linkDirectoryForTag(int tag, const QString& name);
    static QString linkDirectoryForTag(int tag, const QString& name, int storage);

    // Files
    static QString documentFileForKey(const QString& key, int storage);
    static QString metaFileForKey(const QString& key, int storage);
    static QString headerFileForKey(const QString& key, int storage);
    static QString indexFileForKey(const QString& key, int storage);
    static QString linkFileForKey(const QString& key, int service, int storage);
    static QString metaFileForTag(int tag, const QString& name);

    // True for a name that can be one path component inside a store folder.
    static bool isSafePathComponent(const QString& name);
};
