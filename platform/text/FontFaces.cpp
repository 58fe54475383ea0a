#include "text/FontFaces.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QMutex>
#include <QScreen>

namespace {

// The line box every face is measured with, in em.
constexpr double NormalLineBox = 1.2;

enum class Kind { Sans, Serif, Mono };

struct Substitute {
    const char* postScriptName;
    const char* family;
    QFont::Weight weight;
    bool italic;
    Kind kind;
};

// Free faces from Debian packages standing in for the names the tables use.
constexpr Substitute Substitutes[] = {
    {"AvenirNext-Regular", "Lato", QFont::Normal, false, Kind::Sans},
    {"Avenir-Heavy", "Lato", QFont::ExtraBold, false, Kind::Sans},
    {"Avenir-Oblique", "Lato", QFont::Normal, true, Kind::Sans},
    {"Avenir-HeavyOblique", "Lato", QFont::ExtraBold, true, Kind::Sans},
    {"Menlo-Regular", "DejaVu Sans Mono", QFont::Normal, false, Kind::Mono},
    {"Menlo-Bold", "DejaVu Sans Mono", QFont::Bold, false, Kind::Mono},
    {"Menlo-Italic", "DejaVu Sans Mono", QFont::Normal, true, Kind::Mono},
    {"Menlo-BoldItalic", "DejaVu Sans Mono", QFont::Bold, true, Kind::Mono},
    {"KT9VR-Menlo-Avenir", "DejaVu Sans Mono", QFont::Normal, false, Kind::Mono},
    {"KT9VR-Menlo-Iowan", "DejaVu Sans Mono", QFont::Normal, false, Kind::Mono},
    {"Courier", "Nimbus Mono PS", QFont::Normal, false, Kind::Mono},
    {"Courier-Bold", "Nimbus Mono PS", QFont::Bold, false, Kind::Mono},
    {"Courier-Oblique", "Nimbus Mono PS", QFont::Normal, true, Kind::Mono},
    {"Courier-BoldOblique", "Nimbus Mono PS", QFont::Bold, true, Kind::Mono},
    {"Georgia", "Charis SIL", QFont::Normal, false, Kind::Serif},
    {"Georgia-Bold", "Charis SIL", QFont::Bold, false, Kind::Serif},
    {"Georgia-Italic", "Charis SIL", QFont::Normal, true, Kind::Serif},
    {"Georgia-BoldItalic", "Charis SIL", QFont::Bold, true, Kind::Serif},
    {"Palatino-Roman", "P052", QFont::Normal, false, Kind::Serif},
    {"Palatino-Bold", "P052", QFont::Bold, false, Kind::Serif},
    {"Palatino-Italic", "P052", QFont::Normal, true, Kind::Serif},
    {"Palatino-BoldItalic", "P052", QFont::Bold, true, Kind::Serif},
    {"TimesNewRomanPSMT", "Liberation Serif", QFont::Normal, false, Kind::Serif},
    {"TimesNewRomanPS-BoldMT", "Liberation Serif", QFont::Bold, false, Kind::Serif},
    {"TimesNewRomanPS-ItalicMT", "Liberation Serif", QFont::Normal, true, Kind::Serif},
    {"TimesNewRomanPS-BoldItalicMT", "Liberation Serif", QFont::Bold, true, Kind::Serif},
    {"IowanOldStyle-Roman", "Vollkorn", QFont::Normal, false, Kind::Serif},
    {"IowanOldStyle-Bold", "Vollkorn", QFont::Bold, false, Kind::Serif},
    {"IowanOldStyle-Italic", "Vollkorn", QFont::Normal, true, Kind::Serif},
    {"IowanOldStyle-BoldItalic", "Vollkorn", QFont::Bold, true, Kind::Serif},
    {"HelveticaNeue", "Nimbus Sans", QFont::Normal, false, Kind::Sans},
    {"HelveticaNeue-Bold", "Nimbus Sans", QFont::Bold, false, Kind::Sans},
    {"HelveticaNeue-Italic", "Nimbus Sans", QFont::Normal, true, Kind::Sans},
    {"HelveticaNeue-BoldItalic", "Nimbus Sans", QFont::Bold, true, Kind::Sans},
    {"Cochin", "Linux Libertine O", QFont::Normal, false, Kind::Serif},
    {"Cochin-Bold", "Linux Libertine O", QFont::Bold, false, Kind::Serif},
    {"Cochin-Italic", "Linux Libertine O", QFont::Normal, true, Kind::Serif},
    {"Cochin-BoldItalic", "Linux Libertine O", QFont::Bold, true, Kind::Serif},
};

struct Face {
    QString family;
    QFont::Weight weight = QFont::Normal;
    bool italic = false;
};

QString systemFamily()
{
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

// The installed family fontconfig picks for a generic name.
QString genericFamily(Kind kind)
{
    QFont probe;
    switch (kind) {
    case Kind::Mono:
        probe.setFamily(QStringLiteral("monospace"));
        probe.setStyleHint(QFont::Monospace);
        break;
    case Kind::Serif:
        probe.setFamily(QStringLiteral("serif"));
        probe.setStyleHint(QFont::Serif);
        break;
    case Kind::Sans:
        probe.setFamily(QStringLiteral("sans-serif"));
        probe.setStyleHint(QFont::SansSerif);
        break;
    }
    return QFontInfo(probe).family();
}

Face lookUp(const QString& postScriptName)
{
    if (postScriptName == SystemFontName || postScriptName == BoldSystemFontName)
        return {systemFamily(), postScriptName == BoldSystemFontName ? QFont::Bold : QFont::Normal, false};
    for (const Substitute& substitute : Substitutes) {
        if (postScriptName != QLatin1String(substitute.postScriptName))
            continue;
        QString family = QString::fromLatin1(substitute.family);
        if (!QFontDatabase::hasFamily(family))
            family = genericFamily(substitute.kind);
        if (family.isEmpty() || !QFontDatabase::hasFamily(family))
            family = systemFamily();
        return {family, substitute.weight, substitute.italic};
    }
    return {systemFamily(), QFont::Normal, false};
}

// Face decisions are cached by name; the font database is asked once per name.
Face faceFor(const QString& postScriptName)
{
    static QMutex mutex;
    static QHash<QString, Face> faces;
    QMutexLocker lock(&mutex);
    auto found = faces.constFind(postScriptName);
    if (found == faces.cend())
        found = faces.insert(postScriptName, lookUp(postScriptName));
    return found.value();
}

constexpr bool isBold(int weight)
{
    return weight >= QFont::DemiBold;
}

double screenDpi()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? qRound(screen->logicalDotsPerInchY()) : 96.0;
}

// Qt sizes fonts in typographic points at the screen's logical resolution;
// ours are logical pixels. The one place the two meet.
double qtPointSize(double logicalPixels)
{
    return logicalPixels * 72.0 / screenDpi();
}

double logicalPixels(double qtPointSize)
{
    return qtPointSize * screenDpi() / 72.0;
}

} // namespace

QFont FontFaces::qfont(const Font& font)
{
    const Face face = faceFor(font.postScriptName);
    QFont result(face.family);
    result.setWeight(face.weight);
    result.setItalic(face.italic);
    if (font.pointSize > 0)
        result.setPointSizeF(qtPointSize(font.pointSize));
    return result;
}

double FontFaces::lineHeight(const Font& font)
{
    return font.pointSize * NormalLineBox;
}

QString FontFaces::familyForPostScriptName(const QString& postScriptName)
{
    return faceFor(postScriptName).family;
}

Font FontFaces::font(const QFont& qfont)
{
    const double size = qfont.pixelSize() > 0 ? qfont.pixelSize() : logicalPixels(qfont.pointSizeF());
    const bool bold = isBold(qfont.weight());
    for (const Substitute& substitute : Substitutes) {
        const QString name = QString::fromLatin1(substitute.postScriptName);
        const Face face = faceFor(name);
        if (face.family == qfont.family() && isBold(face.weight) == bold && face.italic == qfont.italic())
            return {name, size};
    }
    return bold ? Font::boldSystemFont(size) : Font::systemFont(size);
}

const FontFaces& FontFaces::metrics()
{
    static const FontFaces instance;
    return instance;
}

QSizeF FontFaces::sizeOfString(const QString& text, const Font& font) const
{
    double width;
    if (font.fixedAdvance > 0)
        width = font.fixedAdvance * double(text.toUcs4().size());
    else
        width = QFontMetricsF(qfont(font)).horizontalAdvance(text);
    return {width, lineHeight(font)};
}
