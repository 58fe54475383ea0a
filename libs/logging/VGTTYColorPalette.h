#pragma once

#include <QByteArray>
#include <QList>

#include <cstddef>

// A colour as red, green and blue from 0 to 1.
struct VGTTYColor {
    double red = 0, green = 0, blue = 0;
    static VGTTYColor fromBytes(int red, int green, int blue) { return {red / 255.0, green / 255.0, blue / 255.0}; }
};

// How the terminal takes colours, and for ANSI terminals the codes it knows with
// the colours they stand for (entry i of each list belongs together).
class VGTTYColorPalette {
public:
    enum class Mode { None, XcodeColors, ANSI };

    // "XcodeColors" = "YES" picks that mode; else a "TERM" holding "color" picks
    // ANSI, with the 256-colour tables when it also holds "256".
    static VGTTYColorPalette fromEnvironment();
    static VGTTYColorPalette none() { return VGTTYColorPalette(Mode::None); }
    static VGTTYColorPalette xcodeColors() { return VGTTYColorPalette(Mode::XcodeColors); }
    static VGTTYColorPalette ansi16();
    static VGTTYColorPalette ansi256();

    Mode mode() const { return mode_; }
    const QList<QByteArray>& foregroundCodes() const { return foregroundCodes_; }
    const QList<QByteArray>& backgroundCodes() const { return backgroundCodes_; }
    const QList<VGTTYColor>& colors() const { return colors_; }

    // The nearest entry by distance in RGB; the lowest index among equals; 0 when empty.
    size_t codeIndexForColor(const VGTTYColor& color) const;

private:
    explicit VGTTYColorPalette(Mode mode) : mode_(mode) {}

    Mode mode_;
    QList<QByteArray> foregroundCodes_;
    QList<QByteArray> backgroundCodes_;
    QList<VGTTYColor> colors_;
};
