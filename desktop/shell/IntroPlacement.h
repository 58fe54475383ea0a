#pragma once

#include <QRect>

// The intro window's frame: 1280 wide on a screen at least 1380 wide (else 1152), 720 high on one at
// least 820 high (else 600), never larger than the screen, centred on it. No screen: a null rectangle.
QRect introFrame(const QRect& screen);
