#pragma once

#include <QHashFunctions>
#include <QString>

#include <cstdint>

// An sRGB colour with alpha, each component from 0 to 1.
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    // From 8-bit components, each divided by 255.
    static Color fromRGBA8(int red, int green, int blue, int alpha = 255);
    // From 0xRRGGBBAA.
    static Color fromHex(uint32_t rrggbbaa);

    // "#rrggbb", or "#rrggbbaa" when the colour is not opaque.
    QString name() const;
    Color withAlpha(double value) const { return {red, green, blue, value}; }

    bool operator==(const Color&) const = default;
};

inline size_t qHash(const Color& color, size_t seed = 0)
{
    return qHashMulti(seed, color.red, color.green, color.blue, color.alpha);
}
