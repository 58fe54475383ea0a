// Title, summary, tags and file name of any text: the name is one safe path
// component ending in ".txt", and every tag's folder stays inside its root.
#include "FuzzText.h"

#include "Store/Note.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool rooted = [] {
        Note::setRootDirectories(QStringLiteral("/nonexistent/fuzz/Documents"), QStringLiteral("/nonexistent/fuzz/Caches"));
        return true;
    }();
    (void)rooted;
    auto note = std::make_shared<Note>();
    note->setText(fuzzText(data, size));
    note->_reloadHeader();
    const QString name = note->findUnusedReadableFileNameForDirectory(QStringLiteral("/nonexistent/fuzz/Documents/Home"));
    FUZZ_CHECK(Note::isSafePathComponent(name) && name.endsWith(QLatin1String(".txt")));
    FUZZ_CHECK(!Note::documentFileForKey(name, NoteStorageInbox).isEmpty());
    for (const bool weak : {true, false}) {
        QStringList hashtags, mentions;
        Note::fillHashtags(&hashtags, &mentions, note->text(), weak);
        for (const auto& [kind, tags] : {std::pair{NoteTagHashtag, hashtags}, std::pair{NoteTagMention, mentions}}) {
            const QString root = Note::linkDirectoryForTag(kind) + QLatin1Char('/');
            for (const QString& tag : tags) {
                const QString folder = Note::linkDirectoryForTag(kind, tag);
                FUZZ_CHECK(folder.isEmpty() || (folder.startsWith(root) && !folder.mid(root.size()).contains(u'/')
                                                && folder != root + QLatin1String("..")));
            }
        }
    }
    return 0;
}
