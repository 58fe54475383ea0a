#pragma once

#include <QRectF>

// Turns a rectangle measured from the bottom of a container of the given height into one measured
// from its top, and back: the numbers of a y-up layout placed in Qt's y-down widgets.
inline QRectF flipY(const QRectF& rect, qreal containerHeight)
{
    return {rect.x(), containerHeight - rect.y() - rect.height(), rect.width(), rect.height()};
}
