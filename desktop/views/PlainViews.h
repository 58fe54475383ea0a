#pragma once

#include <QColor>
#include <QWidget>

// Fills itself with its background colour.
class BoxView : public QWidget {
public:
    explicit BoxView(QWidget* parent = nullptr) : QWidget(parent) {}
    void setBackgroundColor(const QColor& color);
    const QColor& backgroundColor() const { return color_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

// Clips itself and its children to a rectangle with corners of radius 2.
class RoundedView : public QWidget {
public:
    static constexpr qreal CornerRadius = 2.0;
    explicit RoundedView(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void resizeEvent(QResizeEvent* event) override;
};

// Draws nothing itself; what its children draw casts a black shadow (alpha 0.9, blur 6) 4 pixels down.
class ShadowView : public QWidget {
public:
    explicit ShadowView(QWidget* parent = nullptr);
};
