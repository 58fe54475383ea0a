#include "Note.h"

#include "FolderNameCache.h"

#include "Clock.h"
#include "Log.h"
#include "files/DatePattern.h"
#include "files/FileName.h"
#include "files/UnicodeRegex.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <limits>
#include <utility>

namespace {

constexpr qsizetype ShortestReadableBase = 9;
constexpr int MaxNumberedVariant = 100;
constexpr int MaxProbes = 100;
// The longest numbered variant adds " 100.txt" to the base.
constexpr qsizetype NumberedVariantBytes = 8;
constexpr qsizetype LongestExtension = 16;

const QString UntitledPrefix = QStringLiteral("Untitled Note ");
const QString TextExtension = QStringLiteral(".txt");

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

// Stem and extension (with its dot); a name that is all extension, or whose
// extension would leave a cut name no room, is all stem.
std::pair<QString, QString> splitExtension(const QString& key)
{
    const qsizetype dot = key.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || key.size() - dot > LongestExtension)
        return {key, QString()};
    return {key.left(dot), key.mid(dot)};
}

// "<base>.txt", then "<base> 2.txt" … "<base> 100.txt"; null when all are taken.
QString firstFreeVariant(const QString& directory, const QString& base)
{
    return FolderNameCache::shared().firstFree(directory, [&](int n) {
        if (n == 0)
            return base + TextExtension;
        return n < MaxNumberedVariant ? QStringLiteral("%1 %2.txt").arg(base).arg(n + 1) : QString();
    });
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
    const QString cleaned = UnicodeRegex::replace(withoutLoneSurrogates(title()), separators, QStringLiteral(" ")).trimmed();
    return FileName::fitted(cleaned, NumberedVariantBytes, LongestKeyBytes).trimmed();
}

QString Note::shareBaseName()
{
    return cleanedTitle();
}

QString Note::findUnusedReadableFileNameForDirectory(const QString& directory)
{
    const QString base = cleanedTitle();
    if (base.size() >= ShortestReadableBase) {
        const QString name = firstFreeVariant(directory, base);
        if (!name.isNull())
            return name;
    }
    const QDateTime now = QDateTime::fromSecsSinceEpoch(Clock::now()).toLocalTime();
    const QString stamp = DatePattern::format(now, QStringLiteral("yyyy-MM-dd 'at' HH-mm-ss zzz")).trimmed();
    const QString name = firstFreeVariant(directory, UntitledPrefix + stamp);
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

QString Note::forkFileName(const QString& key, const QString& text)
{
    const auto [stem, extension] = splitExtension(key);
    const QByteArray hash = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex();
    const QString tail = QLatin1Char(' ') + QString::fromLatin1(hash.left(6)) + extension;
    QString kept = FileName::fitted(stem, tail.toUtf8().size(), LongestKeyBytes);
    // The fork of a cut name may cut back to that very name: a fork is never its note.
    if (kept + tail == key)
        kept = FileName::fitted(kept, 1, kept.toUtf8().size());
    return kept + tail;
}

QString Note::fittedKey(const QString& key)
{
    return key.toUtf8().size() <= LongestKeyBytes ? key : forkFileName(key, key);
}

QString Note::newFileName()
{
    return findUnusedReadableFileNameForDirectory(documentDirectoryForStorage(storage()));
}

QString Note::findUnusedFileNameForKey(const QString& key, int storage)
{
    // Named, not bound: a lambda below takes them.
    const auto parts = splitExtension(key);
    QString stem = parts.first;
    const QString extension = parts.second;

    static const QRegularExpression trailingDigits =
        UnicodeRegex::expression(QStringLiteral("^(|.*[^0-9])([0-9]*)$"));
    qint64 first = 2;
    const QRegularExpressionMatch match = trailingDigits.match(stem);
    if (match.hasMatch()) {
        bool ok = true;
        const QString digits = match.captured(2);
        const qint64 number = digits.isEmpty() ? 0 : digits.toLongLong(&ok);
        if (ok && number < std::numeric_limits<qint64>::max() - MaxProbes) {
            first = number + 1;
            stem = match.captured(1);
        }
    }
    // The key itself, then numbered variants, then placeholder names.
    return FolderNameCache::shared().firstFree(documentDirectoryForStorage(storage), [&](int n) {
        if (n == 0)
            return key;
        if (n <= MaxProbes) {
            const QString tail = QString::number(first + n - 1) + extension;
            return FileName::fitted(stem, tail.toUtf8().size(), LongestKeyBytes) + tail;
        }
        return n <= 2 * MaxProbes ? uniqueClassicKeyFromURL() : QString();
    });
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
