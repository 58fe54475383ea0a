#pragma once

#include <QHashFunctions>
#include <QString>

// A font as the styling names it: a PostScript name and a size in points
// (one point is one logical pixel on screen), with an optional fixed advance
// that every glyph takes instead of its own width. Resolving it to a face is
// the font layer's business (FontFaces), so the value needs no display.
struct Font {
    QString postScriptName;
    double pointSize = 0;
    double fixedAdvance = 0; // 0: the glyphs' own advances

    // The desktop's interface font, regular and bold.
    static Font systemFont(double pointSize);
    static Font boldSystemFont(double pointSize);
    bool isSystemFont() const;

    Font withPointSize(double size) const { return {postScriptName, size, fixedAdvance}; }
    Font withFixedAdvance(double advance) const { return {postScriptName, pointSize, advance}; }

    bool operator==(const Font&) const = default;
};

inline const QString SystemFontName = QStringLiteral(".SystemFont");
inline const QString BoldSystemFontName = QStringLiteral(".SystemFont-Bold");

inline size_t qHash(const Font& font, size_t seed = 0)
{
    return qHashMulti(seed, font.postScriptName, font.pointSize, font.fixedAdvance);
}
