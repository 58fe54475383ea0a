#include "text/TextAttributes.h"

namespace {

template <typename T>
size_t hashOptional(const std::optional<T>& value, size_t seed)
{
    return value ? qHash(*value, seed) : seed ^ 0x9e3779b9u;
}

template <typename T>
bool agrees(const std::optional<T>& here, const std::optional<T>& wanted)
{
    return !wanted || here == wanted;
}

template <typename T>
void take(std::optional<T>& into, const std::optional<T>& from)
{
    if (from)
        into = from;
}

} // namespace

TextAttributes::Keys TextAttributes::keys() const
{
    Keys result;
    result.setFlag(FontKey, font.has_value());
    result.setFlag(ForegroundColorKey, foregroundColor.has_value());
    result.setFlag(LinkKey, link.has_value());
    result.setFlag(UnderlineStyleKey, underlineStyle.has_value());
    result.setFlag(StrikethroughStyleKey, strikethroughStyle.has_value());
    result.setFlag(ToolTipKey, toolTip.has_value());
    result.setFlag(ParagraphStyleKey, paragraphStyle.has_value());
    return result;
}

TextAttributes TextAttributes::merged(const TextAttributes& other) const
{
    TextAttributes result = *this;
    take(result.font, other.font);
    take(result.foregroundColor, other.foregroundColor);
    take(result.link, other.link);
    take(result.underlineStyle, other.underlineStyle);
    take(result.strikethroughStyle, other.strikethroughStyle);
    take(result.toolTip, other.toolTip);
    take(result.paragraphStyle, other.paragraphStyle);
    return result;
}

bool TextAttributes::includes(const TextAttributes& other) const
{
    return agrees(font, other.font) && agrees(foregroundColor, other.foregroundColor) && agrees(link, other.link)
        && agrees(underlineStyle, other.underlineStyle) && agrees(strikethroughStyle, other.strikethroughStyle)
        && agrees(toolTip, other.toolTip) && agrees(paragraphStyle, other.paragraphStyle);
}

TextAttributes TextAttributes::without(Keys keys) const
{
    TextAttributes result = *this;
    if (keys & FontKey)
        result.font.reset();
    if (keys & ForegroundColorKey)
        result.foregroundColor.reset();
    if (keys & LinkKey)
        result.link.reset();
    if (keys & UnderlineStyleKey)
        result.underlineStyle.reset();
    if (keys & StrikethroughStyleKey)
        result.strikethroughStyle.reset();
    if (keys & ToolTipKey)
        result.toolTip.reset();
    if (keys & ParagraphStyleKey)
        result.paragraphStyle.reset();
    return result;
}

bool TextAttributes::sameFor(const TextAttributes& other, Keys keys) const
{
    const Keys all = FontKey | ForegroundColorKey | LinkKey | UnderlineStyleKey | StrikethroughStyleKey
        | ToolTipKey | ParagraphStyleKey;
    return without(all & ~keys) == other.without(all & ~keys);
}

size_t qHash(const TextAttributes& a, size_t seed)
{
    seed = hashOptional(a.font, seed);
    seed = hashOptional(a.foregroundColor, seed);
    seed = hashOptional(a.link, seed);
    seed = hashOptional(a.underlineStyle, seed);
    seed = hashOptional(a.strikethroughStyle, seed);
    seed = hashOptional(a.toolTip, seed);
    return hashOptional(a.paragraphStyle, seed);
}
