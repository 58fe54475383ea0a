#include "Note.h"

#include "Clock.h"
#include "Log.h"
#include "files/DatePattern.h"
#include "files/UnicodeRegex.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTextBoundaryFinder>
#include <QTimeZone>

#include <dirent.h>

#include <limits>
#include <unordered_set>

namespace {

constexpr qsizetype ShortestReadableBase = 9;
constexpr int MaxNumberedVariant = 100;
constexpr int MaxProbes = 100;
// The longest numbered variant adds " 100.txt" to the base; with it the name
// must still fit the file system's 255 bytes.
constexpr qsizetype LongestBaseBytes = 255 - 8;

const QString UntitledPrefix = QStringLiteral("Untitled Note ");
const QString TextExtension = QStringLiteral(".txt");

// Peers' file systems ignore case and Unicode normalisation, so names are
// compared the way they would be there.
QString folded(const QString& name)
{
    bool ascii = true;
    for (const QChar c : name)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        return name.toLower();
    // Most names are composed already, which the composed form checks quickly.
    return name.toCaseFolded().normalized(QString::NormalizationForm_C);
}

// Every name in the folder, folded; one listing per search, whatever the
// number of probes. Only hashes of the folded names are kept: a collision can
// only make a free name look taken, never the other way round.
class FolderNames {
public:
    explicit FolderNames(const QString& directory)
    {
        DIR* dir = directory.isEmpty() ? nullptr : opendir(QFile::encodeName(directory).constData());
        if (!dir)
            return;
        hashes_.reserve(1024);
        while (const dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            hashes_.insert(hashOfName(name));
        }
        closedir(dir);
    }

    bool contains(const QString& name) const { return hashes_.count(hash(folded(name).toUtf8())) > 0; }

private:
    static size_t hash(QByteArrayView foldedBytes) { return qHash(foldedBytes, 0); }

    // Most names are ASCII: folded in place, with no string made.
    static size_t hashOfName(const char* name)
    {
        char lower[256];
        size_t length = 0;
        for (; name[length] && length < sizeof lower; ++length) {
            const unsigned char c = static_cast<unsigned char>(name[length]);
            if (c >= 0x80)
                return hash(folded(QFile::decodeName(name)).toUtf8());
            lower[length] = char(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        }
        return hash(QByteArrayView(lower, qsizetype(length)));
    }

    std::unordered_set<size_t> hashes_;
};

// The longest prefix that ends at a character boundary and fits in the bytes.
QString fitted(const QString& base, qsizetype maxBytes)
{
    if (base.toUtf8().size() <= maxBytes)
        return base;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, base);
    qsizetype fit = 0;
    qsizetype bytes = 0;
    qsizetype previous = 0;
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
        bytes += QStringView(base).mid(previous, at - previous).toUtf8().size();
        if (bytes > maxBytes)
            break;
        fit = previous = at;
    }
    return base.left(fit).trimmed();
}

// The expressions match nothing on broken UTF-16, so a lone surrogate would
// keep every separator in the name; it becomes U+FFFD, as in the saved text.
QString withoutLoneSurrogates(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode()))
            ++i;
        else if (QChar::isSurrogate(unit))
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

// "<base>.txt", then "<base> 2.txt" … "<base> 100.txt"; null when all are taken.
QString firstFreeVariant(const QString& base, const FolderNames& taken)
{
    const QString plain = base + TextExtension;
    if (!taken.contains(plain))
        return plain;
    for (int n = 2; n <= MaxNumberedVariant; ++n) {
        const QString candidate = QStringLiteral("%1 %2.txt").arg(base).arg(n);
        if (!taken.contains(candidate))
            return candidate;
    }
    return QString();
}

} // namespace

QString Note::cleanedTitle()
{
    if (title().isNull())
        _reloadHeader();
    // Combining marks are word characters, as in the platform's expressions,
    // so a decomposed "é" keeps its accent.
    static const QRegularExpression separators = UnicodeRegex::expression(
        QStringLiteral("(?:[^\\w\\p{M}]|[\\?\\#\\s\\,\\;\\*\\<\\>\\/\\.\\_\\\"\\'\\\\\\n\\r])+"));
    return fitted(UnicodeRegex::replace(withoutLoneSurrogates(title()), separators, QStringLiteral(" ")).trimmed(), LongestBaseBytes);
}

QString Note::shareBaseName()
{
    return cleanedTitle();
}

QString Note::findUnusedReadableFileNameForDirectory(const QString& directory)
{
    const QString base = cleanedTitle();
    const FolderNames taken(directory);
    if (base.size() >= ShortestReadableBase) {
        const QString name = firstFreeVariant(base, taken);
        if (!name.isNull())
            return name;
    }
    const QDateTime now = QDateTime::fromSecsSinceEpoch(Clock::now()).toLocalTime();
    const QString stamp = DatePattern::format(now, QStringLiteral("yyyy-MM-dd 'at' HH-mm-ss zzz")).trimmed();
    const QString name = firstFreeVariant(UntitledPrefix + stamp, taken);
    return name.isNull() ? uniqueClassicKeyFromURL() : name;
}

bool Note::isReadableFileName(const QString& name)
{
    return !(name.startsWith(UntitledPrefix) && name.endsWith(TextExtension));
}

QString Note::uniqueClassicKeyFromURL(const QUrl&)
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(qint64(Clock::nowPrecise() * 1000), Qt::UTC);
    return QStringLiteral("Untitled Note %1-%2.txt")
        .arg(DatePattern::format(now, QStringLiteral("yyyyMMdd-HHmmssSSS")), Clock::newUUID());
}

QString Note::findUnusedFileNameForKey(const QString& key, int storage)
{
    const FolderNames taken(documentDirectoryForStorage(storage));
    if (!taken.contains(key))
        return key;

    const qsizetype dot = key.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0;
    QString stem = hasExtension ? key.left(dot) : key;
    const QString extension = hasExtension ? key.mid(dot) : QString();

    static const QRegularExpression trailingDigits =
        UnicodeRegex::expression(QStringLiteral("^(|.*[^0-9])([0-9]*)$"));
    qint64 n = 2;
    const QRegularExpressionMatch match = trailingDigits.match(stem);
    if (match.hasMatch()) {
        bool ok = true;
        const QString digits = match.captured(2);
        const qint64 number = digits.isEmpty() ? 0 : digits.toLongLong(&ok);
        if (ok && number < std::numeric_limits<qint64>::max()) {
            n = number + 1;
            stem = match.captured(1);
        }
    }
    for (int i = 0; i < MaxProbes; ++i, ++n) {
        const QString candidate = stem + QString::number(n) + extension;
        if (!taken.contains(candidate))
            return candidate;
    }
    for (int i = 0; i < MaxProbes; ++i) {
        const QString candidate = uniqueClassicKeyFromURL();
        if (!taken.contains(candidate))
            return candidate;
    }
    return QString();
}

NotePtr Note::noteWithRemoteURL(const QUrl& url)
{
    const QString path = url.toLocalFile();
    LogInfo("core:open %1", path);
    LogInfo("core:open %1 try open..", path);
    QString text;
    if (!decodeTextFile(path, &text, nullptr)) {
        LogError("core:open %1 failed.", path);
        return nullptr;
    }
    auto note = std::make_shared<Note>();
    const QString key = findUnusedFileNameForKey(QFileInfo(path).completeBaseName() + TextExtension, NoteStorageInbox);
    note->setKey(key);
    note->setStorage(NoteStorageInbox);
    note->setText(text);
    LogInfo("core:open %1 saving to %2..", path, key);
    return note;
}
