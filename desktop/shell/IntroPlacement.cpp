#include "IntroPlacement.h"

#include <algorithm>

QRect introFrame(const QRect& screen)
{
    int width = screen.width() >= 1380 ? 1280 : 1152;
    int height = screen.height() >= 820 ? 720 : 600;
    if (!screen.isEmpty()) {
        width = std::min(width, screen.width());
        height = std::min(height, screen.height());
    }
    const QPoint centre(screen.x() + screen.width() / 2, screen.y() + screen.height() / 2);
    return QRect(centre.x() - width / 2, centre.y() - height / 2, width, height);
}
