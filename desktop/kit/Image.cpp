#include "kit/Image.h"

#include "kit/QtColor.h"

#include "Themes/Themeset.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>

#include <functional>

namespace {

using Draw = std::function<void(QPainter&, ThemeID, const QColor& ink)>;

struct Artwork {
    const char* suffix;
    QSize size;
    bool selected;
    Draw draw;
};

QPen stroke(const QColor& ink, qreal width = 2)
{
    return QPen(ink, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawPlus(QPainter& p, ThemeID, const QColor& ink)
{
    p.setPen(stroke(ink));
    p.drawLine(QPointF(12, 6), QPointF(12, 18));
    p.drawLine(QPointF(6, 12), QPointF(18, 12));
}

void drawTheme(QPainter& p, ThemeID, const QColor& ink)
{
    p.setPen(stroke(ink, 1.5));
    p.drawEllipse(QRectF(5.5, 5.5, 13, 13));
    QPainterPath half;
    half.moveTo(12, 5.5);
    half.arcTo(QRectF(5.5, 5.5, 13, 13), 90, 180);
    half.closeSubpath();
    p.fillPath(half, ink);
}

void drawSidebar(QPainter& p, ThemeID, const QColor& ink)
{
    p.setPen(stroke(ink, 1.5));
    p.drawRoundedRect(QRectF(4.5, 6.5, 15, 11), 2, 2);
    p.fillRect(QRectF(5, 7, 5, 10), ink);
}

void drawSearch(QPainter& p, ThemeID, const QColor& ink)
{
    p.setPen(stroke(ink, 1.5));
    p.drawEllipse(QRectF(1.5, 1.5, 8, 8));
    p.drawLine(QPointF(8.5, 8.5), QPointF(12.5, 12.5));
}

// The shade under the top edge of the editor: the background fading out downwards.
void drawTopbar(QPainter& p, ThemeID theme, const QColor&)
{
    QLinearGradient fade(0, 0, 0, 24);
    const QColor background = toQColor(Themeset::backgroundColorForTheme(theme));
    fade.setColorAt(0, background);
    QColor clear = background;
    clear.setAlpha(0);
    fade.setColorAt(1, clear);
    p.fillRect(QRect(0, 0, 16, 24), fade);
}

void drawSwipeArrow(QPainter& p, ThemeID theme, const QColor&)
{
    p.setPen(stroke(toQColor(Themeset::backgroundColorForTheme(theme))));
    p.drawPolyline(QPolygonF({QPointF(4, 4), QPointF(9, 10), QPointF(4, 16)}));
}

// A theme's button in the theme popover: its background ringed in its tint.
void drawCircle(QPainter& p, ThemeID theme, const QColor& ink, qreal ring)
{
    p.setPen(QPen(ink, ring));
    p.setBrush(toQColor(Themeset::backgroundColorForTheme(theme)));
    p.drawEllipse(QRectF(1, 1, 42, 42).adjusted(ring / 2, ring / 2, -ring / 2, -ring / 2));
}

void drawRightChevron(QPainter& p, ThemeID, const QColor& ink)
{
    p.setPen(stroke(ink));
    p.drawPolyline(QPolygonF({QPointF(6, 4), QPointF(11, 10), QPointF(6, 16)}));
}

void drawLeftChevron(QPainter& p, ThemeID, const QColor& ink)
{
    p.setPen(stroke(ink));
    p.drawPolyline(QPolygonF({QPointF(12, 4), QPointF(7, 10), QPointF(12, 16)}));
}

void drawTick(QPainter& p, ThemeID, const QColor& ink)
{
    p.setPen(stroke(ink));
    p.drawPolyline(QPolygonF({QPointF(3, 9), QPointF(7, 13), QPointF(15, 5)}));
}

const std::vector<Artwork>& artworks()
{
    static const std::vector<Artwork> all = {
        {"-plus", {24, 24}, false, drawPlus},
        {"-plus-selected", {24, 24}, true, drawPlus},
        {"-theme", {24, 24}, false, drawTheme},
        {"-theme-selected", {24, 24}, true, drawTheme},
        {"-sidebar", {24, 24}, false, drawSidebar},
        {"-sidebar-selected", {24, 24}, true, drawSidebar},
        {"-search", {14, 14}, false, drawSearch},
        {"-topbar", {16, 24}, false, drawTopbar},
        {"-swipe-arrow", {12, 20}, false, drawSwipeArrow},
        {"-circle", {44, 44}, true, [](QPainter& p, ThemeID t, const QColor& ink) { drawCircle(p, t, ink, 2); }},
        {"-circle-selected", {44, 44}, true, [](QPainter& p, ThemeID t, const QColor& ink) { drawCircle(p, t, ink, 5); }},
        {"-right", {18, 20}, true, drawRightChevron},
        {"-left", {18, 20}, true, drawLeftChevron},
        {"-tick", {18, 18}, true, drawTick},
    };
    return all;
}

QPixmap render(const Artwork& art, ThemeID theme, qreal ratio)
{
    QPixmap pixmap(art.size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const Color ink = art.selected ? Themeset::tintColorForTheme(theme) : Themeset::menuColorForTheme(theme);
    art.draw(painter, theme, toQColor(ink));
    return pixmap;
}

QPixmap drawNamed(const QString& name, qreal ratio)
{
    for (int64_t i = 0; i < Themeset::numberOfThemes(); ++i) {
        const ThemeID theme = Themeset::themeAtIndex(i);
        const QString stem = Themeset::resourceNameForTheme(theme);
        if (!name.startsWith(stem))
            continue;
        for (const Artwork& art : artworks())
            if (name.size() == stem.size() + qsizetype(qstrlen(art.suffix)) && name.endsWith(QLatin1String(art.suffix)))
                return render(art, theme, ratio);
    }
    return {};
}

} // namespace

namespace Image {

QPixmap named(const QString& name, qreal devicePixelRatio)
{
    static QHash<QString, QPixmap> cache;
    const QString key = name + QLatin1Char('@') + QString::number(devicePixelRatio);
    auto found = cache.constFind(key);
    if (found == cache.constEnd())
        found = cache.insert(key, drawNamed(name, devicePixelRatio));
    return *found;
}

const QStringList& suffixes()
{
    static const QStringList all = [] {
        QStringList list;
        for (const Artwork& art : artworks())
            list.append(QLatin1String(art.suffix));
        return list;
    }();
    return all;
}

} // namespace Image
