#pragma once

#include "text/Color.h"

// The editor colours a styling text storage takes from a theme.
class TextStorageColors {
public:
    virtual ~TextStorageColors() = default;
    virtual void setMainColor(const Color& color) = 0;
    virtual void setSymbolColor(const Color& color) = 0;
    virtual void setListColor(const Color& color) = 0;
    virtual void setCodeColor(const Color& color) = 0;
    virtual void setCriticAddColor(const Color& color) = 0;
    virtual void setCriticDeleteColor(const Color& color) = 0;
    virtual void setCriticSubColor(const Color& color) = 0;
    virtual void setCriticCommentColor(const Color& color) = 0;
    virtual void setCriticHighlightColor(const Color& color) = 0;
};
