#pragma once

#include "VGTTYColorPalette.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// One colour choice of the terminal logger, with its escape sequences made once.
class VGTTYLoggerColorProfile {
public:
    static constexpr int32_t AnyContext = 2147483647;

    // No value when an escape code cannot be made.
    static std::optional<VGTTYLoggerColorProfile> create(std::optional<VGTTYColor> foreground,
                                                         std::optional<VGTTYColor> background, int32_t mask,
                                                         int32_t context, const VGTTYColorPalette& palette);

    int32_t mask() const { return mask_; }
    int32_t context() const { return context_; }
    const QByteArray& fgCode() const { return fgCode_; }
    const QByteArray& bgCode() const { return bgCode_; }
    const QByteArray& resetCode() const { return resetCode_; }
    QString description() const;

private:
    VGTTYLoggerColorProfile() = default;

    int32_t mask_ = 0;
    int32_t context_ = 0;
    uint8_t fg_[3] = {};
    uint8_t bg_[3] = {};
    QByteArray fgCode_;
    QByteArray bgCode_;
    QByteArray resetCode_;
};
