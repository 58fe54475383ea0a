#pragma once

#include <QPixmap>
#include <QString>

// The application's artwork, drawn in code in the colours of a theme and cached by name and pixel
// ratio. A name is a theme's resource name and a suffix: "-plus", "-theme", "-sidebar" (each also
// with "-selected", drawn in the theme's tint), "-search", "-topbar", "-swipe-arrow". Any other name
// gives a null pixmap.
namespace Image {

QPixmap named(const QString& name, qreal devicePixelRatio = 1.0);

// The suffixes named() draws.
const QStringList& suffixes();

} // namespace Image
