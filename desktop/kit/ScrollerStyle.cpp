#include "kit/ScrollerStyle.h"

#include <QScrollBar>

namespace ScrollerStyle {

void apply(QScrollBar& bar, const QColor& track, const QColor& knob)
{
    bar.setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: %1; width: 12px; margin: 0; }"
                       "QScrollBar::handle:vertical { background: %2; min-height: 28px; border-radius: 4px; margin: 2px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
            .arg(track.name(), knob.name()));
}

QColor knobOn(const QColor& track)
{
    constexpr double Share = 0.35;
    const QColor towards = track.lightnessF() < 0.5 ? QColor(Qt::white) : QColor(Qt::black);
    return QColor::fromRgbF(float(track.redF() + (towards.redF() - track.redF()) * Share),
                            float(track.greenF() + (towards.greenF() - track.greenF()) * Share),
                            float(track.blueF() + (towards.blueF() - track.blueF()) * Share));
}

} // namespace ScrollerStyle
