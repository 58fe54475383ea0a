#pragma once

#include "text/Color.h"
#include "text/Font.h"
#include "text/ParagraphStyle.h"

#include <QFlags>
#include <QString>

#include <cstdint>
#include <optional>

// The attributes a character can carry. An empty optional means the attribute
// is absent, which is not the same as any value.
struct TextAttributes {
    enum Key {
        FontKey = 0x01,
        ForegroundColorKey = 0x02,
        LinkKey = 0x04,
        UnderlineStyleKey = 0x08,
        StrikethroughStyleKey = 0x10,
        ToolTipKey = 0x20,
        ParagraphStyleKey = 0x40,
    };
    Q_DECLARE_FLAGS(Keys, Key)

    std::optional<Font> font;
    std::optional<Color> foregroundColor;
    std::optional<QString> link;
    std::optional<int64_t> underlineStyle;
    std::optional<int64_t> strikethroughStyle;
    std::optional<QString> toolTip;
    std::optional<ParagraphStyle> paragraphStyle;

    bool isEmpty() const { return *this == TextAttributes(); }
    // The keys whose attribute is present.
    Keys keys() const;
    // This set with every attribute that `other` has taken from `other`.
    TextAttributes merged(const TextAttributes& other) const;
    // This set without the attributes of the keys.
    TextAttributes without(Keys keys) const;
    // Whether every attribute present in `other` has the same value here.
    bool includes(const TextAttributes& other) const;
    // Whether both sets agree on every attribute of the keys.
    bool sameFor(const TextAttributes& other, Keys keys) const;

    bool operator==(const TextAttributes&) const = default;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TextAttributes::Keys)

size_t qHash(const TextAttributes& attributes, size_t seed = 0);
