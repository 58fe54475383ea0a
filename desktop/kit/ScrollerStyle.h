#pragma once

#include <QColor>

class QScrollBar;

namespace ScrollerStyle {

// Draws the bar in a pane's colours rather than the desktop's: a slim rounded knob on the track colour.
void apply(QScrollBar& bar, const QColor& track, const QColor& knob);
// A knob that stands out from the track in light and dark panes alike.
QColor knobOn(const QColor& track);

} // namespace ScrollerStyle
