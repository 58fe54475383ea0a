#pragma once

#include "../store/StoreTestSupport.h"

#include "kit/AnimationContext.h"

#include "Dispatch.h"

#include <QApplication>
#include <QBackingStore>
#include <QImage>
#include <QPainter>
#include <QWidget>

// Runs the queues and Qt's posted events, deferred deletions included.
inline void settle()
{
    Dispatch::waitUntilIdle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

// The widget's window as its backing store holds it: what was painted on screen, which grab() (a
// fresh render) cannot show. Empty when the window has no image backing store.
inline QImage paintedWindow(const QWidget& widget)
{
    const QWidget* window = widget.window();
    const auto* image = window->backingStore() ? dynamic_cast<const QImage*>(window->backingStore()->paintDevice()) : nullptr;
    return image ? *image : QImage();
}

// The colour at a point of the widget as painted on screen.
inline QColor paintedColour(const QWidget& widget, QPoint at)
{
    const QImage image = paintedWindow(widget);
    return image.isNull() ? QColor() : image.pixelColor(widget.mapTo(widget.window(), at));
}

// The colours laid one over the other, first at the bottom, as an opaque pixel shows them.
inline QColor laid(std::initializer_list<QColor> colours)
{
    QImage pixel(1, 1, QImage::Format_RGB32);
    pixel.fill(Qt::black);
    QPainter painter(&pixel);
    for (const QColor& colour : colours)
        painter.fillRect(0, 0, 1, 1, colour);
    painter.end();
    return pixel.pixelColor(0, 0);
}

// The pixel of the rectangle farthest from the fill: where text covers a pixel whole, its colour.
inline QColor inkColour(const QImage& image, const QRect& rect, const QColor& fill)
{
    const auto distance = [&](QColor c) {
        return std::abs(c.red() - fill.red()) + std::abs(c.green() - fill.green()) + std::abs(c.blue() - fill.blue());
    };
    QColor ink = fill;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (const QColor c = image.pixelColor(x, y); distance(c) > distance(ink))
                ink = c;
    return ink;
}

// The smallest rectangle holding every pixel of the rectangle that is not the fill.
inline QRect inkBounds(const QImage& image, const QRect& rect, const QColor& fill)
{
    QRect ink;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixelColor(x, y) != fill)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

// A pane's test on the shared test Core, its animations at duration 0.
class PaneTest : public ::testing::Test {
protected:
    PaneTest() { AnimationContext::setTestMode(true); }
    Core& core = sharedTestCore();
};
