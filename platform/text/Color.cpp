#include "text/Color.h"

#include <cmath>

Color Color::fromRGBA8(int red, int green, int blue, int alpha)
{
    return {red / 255.0, green / 255.0, blue / 255.0, alpha / 255.0};
}

Color Color::fromHex(uint32_t rrggbbaa)
{
    return fromRGBA8(int(rrggbbaa >> 24), int((rrggbbaa >> 16) & 0xff), int((rrggbbaa >> 8) & 0xff),
                     int(rrggbbaa & 0xff));
}

QString Color::name() const
{
    const auto byte = [](double component) {
        return QStringLiteral("%1").arg(int(std::lround(component * 255)), 2, 16, QLatin1Char('0'));
    };
    QString text = QLatin1Char('#') + byte(red) + byte(green) + byte(blue);
    if (alpha != 1)
        text += byte(alpha);
    return text;
}
