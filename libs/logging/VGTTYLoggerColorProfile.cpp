#include "VGTTYLoggerColorProfile.h"

namespace {

constexpr char escape[] = "\033[";

// The 8-bit components of a colour, truncated.
void toBytes(const VGTTYColor& color, uint8_t out[3])
{
    out[0] = static_cast<uint8_t>(color.red * 255.0);
    out[1] = static_cast<uint8_t>(color.green * 255.0);
    out[2] = static_cast<uint8_t>(color.blue * 255.0);
}

QByteArray sequence(const VGTTYColor& color, const uint8_t bytes[3], const QList<QByteArray>& codes,
                    const char* xcodeKind, const VGTTYColorPalette& palette)
{
    switch (palette.mode()) {
    case VGTTYColorPalette::Mode::ANSI: {
        const size_t index = palette.codeIndexForColor(color);
        return size_t(codes.size()) > index ? QByteArray(escape) + codes[qsizetype(index)] : QByteArray();
    }
    case VGTTYColorPalette::Mode::XcodeColors:
        return (QByteArray(escape) + xcodeKind + QByteArray::number(bytes[0]) + ',' + QByteArray::number(bytes[1]) + ','
                + QByteArray::number(bytes[2]) + ';')
            .left(23);
    case VGTTYColorPalette::Mode::None:
        break;
    }
    return {};
}

} // namespace

std::optional<VGTTYLoggerColorProfile> VGTTYLoggerColorProfile::create(std::optional<VGTTYColor> foreground,
                                                                       std::optional<VGTTYColor> background,
                                                                       int32_t mask, int32_t context,
                                                                       const VGTTYColorPalette& palette)
{
    VGTTYLoggerColorProfile profile;
    profile.mask_ = mask;
    profile.context_ = context;
    if (foreground) {
        toBytes(*foreground, profile.fg_);
        profile.fgCode_ = sequence(*foreground, profile.fg_, palette.foregroundCodes(), "fg", palette);
        if (palette.mode() == VGTTYColorPalette::Mode::ANSI && profile.fgCode_.isEmpty())
            return std::nullopt;
    }
    if (background) {
        toBytes(*background, profile.bg_);
        profile.bgCode_ = sequence(*background, profile.bg_, palette.backgroundCodes(), "bg", palette);
        if (palette.mode() == VGTTYColorPalette::Mode::ANSI && profile.bgCode_.isEmpty())
            return std::nullopt;
    }
    if (palette.mode() == VGTTYColorPalette::Mode::ANSI)
        profile.resetCode_ = QByteArray(escape) + "0m";
    else if (palette.mode() == VGTTYColorPalette::Mode::XcodeColors)
        profile.resetCode_ = QByteArray(escape) + ';';
    return profile;
}

QString VGTTYLoggerColorProfile::description() const
{
    return QString::asprintf("<VGTTYLoggerColorProfile: %p mask:%i ctxt:%i fg:%u,%u,%u bg:%u,%u,%u fgCode:%s bgCode:%s>",
                             static_cast<const void*>(this), mask_, context_, fg_[0], fg_[1], fg_[2], bg_[0], bg_[1],
                             bg_[2], fgCode_.constData(), bgCode_.constData());
}
