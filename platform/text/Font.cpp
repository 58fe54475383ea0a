#include "text/Font.h"

Font Font::systemFont(double pointSize)
{
    return {SystemFontName, pointSize, 0};
}

Font Font::boldSystemFont(double pointSize)
{
    return {BoldSystemFontName, pointSize, 0};
}

bool Font::isSystemFont() const
{
    return postScriptName == SystemFontName || postScriptName == BoldSystemFontName;
}
