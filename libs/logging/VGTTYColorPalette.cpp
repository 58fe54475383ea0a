#include "VGTTYColorPalette.h"

#include <cmath>

VGTTYColorPalette VGTTYColorPalette::fromEnvironment()
{
    if (qgetenv("XcodeColors") == "YES")
        return xcodeColors();
    const QByteArray term = qgetenv("TERM").toLower();
    if (!term.contains("color"))
        return none();
    return term.contains("256") ? ansi256() : ansi16();
}

VGTTYColorPalette VGTTYColorPalette::ansi16()
{
    static const int rgb[16][3] = {
        {0, 0, 0},       {194, 54, 33},   {37, 188, 36},  {173, 173, 39}, {73, 46, 225},  {211, 56, 211},
        {51, 187, 200},  {203, 204, 205}, {129, 131, 131}, {252, 57, 31},  {49, 231, 34},  {234, 236, 35},
        {88, 51, 255},   {249, 53, 248},  {20, 240, 240},  {233, 235, 235},
    };
    VGTTYColorPalette palette(Mode::ANSI);
    for (int i = 0; i < 16; ++i) {
        const QByteArray bold = i < 8 ? QByteArray() : QByteArray("1;");
        palette.foregroundCodes_ << bold + QByteArray::number(30 + i % 8) + 'm';
        palette.backgroundCodes_ << bold + QByteArray::number(40 + i % 8) + 'm';
        palette.colors_ << VGTTYColor::fromBytes(rgb[i][0], rgb[i][1], rgb[i][2]);
    }
    return palette;
}

VGTTYColorPalette VGTTYColorPalette::ansi256()
{
    // The terminal's own renderings of a few numbers; the cube and the grey ramp are
    // spread evenly between them.
    struct Known { int number, red, green, blue; };
    static const Known known[] = {
        {16, 47, 49, 49},    {21, 88, 51, 255},    {46, 27, 254, 30},    {196, 255, 61, 30},
        {226, 251, 252, 15}, {231, 254, 255, 255}, {232, 52, 53, 53},    {255, 240, 242, 242},
    };
    const auto lerp = [](int from, int to, int step, int steps) { return from + (to - from) * step / steps; };
    VGTTYColorPalette palette(Mode::ANSI);
    for (int number = 16; number < 256; ++number) {
        palette.foregroundCodes_ << "38;5;" + QByteArray::number(number) + 'm';
        palette.backgroundCodes_ << "48;5;" + QByteArray::number(number) + 'm';
        int red, green, blue;
        if (number < 232) {
            const int cube = number - 16;
            red = lerp(47, 254, cube / 36, 5);
            green = lerp(49, 255, cube / 6 % 6, 5);
            blue = lerp(49, 255, cube % 6, 5);
        } else {
            const int step = number - 232;
            red = lerp(52, 240, step, 23);
            green = lerp(53, 242, step, 23);
            blue = lerp(53, 242, step, 23);
        }
        for (const Known& k : known) {
            if (k.number == number) {
                red = k.red;
                green = k.green;
                blue = k.blue;
            }
        }
        palette.colors_ << VGTTYColor::fromBytes(red, green, blue);
    }
    return palette;
}

size_t VGTTYColorPalette::codeIndexForColor(const VGTTYColor& color) const
{
    double smallest = 100.0;
    size_t index = 0;
    for (qsizetype i = 0; i < colors_.size(); ++i) {
        const VGTTYColor& entry = colors_[i];
        const double distance = std::sqrt(std::pow(color.red - entry.red, 2) + std::pow(color.green - entry.green, 2)
                                          + std::pow(color.blue - entry.blue, 2));
        if (distance < smallest) {
            smallest = distance;
            index = size_t(i);
        }
    }
    return index;
}
