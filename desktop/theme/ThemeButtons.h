#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPushButton>

#include <cstdint>

// The popover and its lists are white whatever the theme.
void fillWhite(QWidget* widget);

// A theme's circle in a page of the theme popover: its image, and the theme in its tag.
class ThemeCircleButton : public QAbstractButton {
public:
    explicit ThemeCircleButton(QWidget* parent = nullptr);

    int64_t tag() const { return tag_; }
    void setTag(int64_t tag) { tag_ = tag; }
    const QPixmap& image() const { return image_; }
    void setImage(const QPixmap& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int64_t tag_ = 0;
    QPixmap image_;
};

// A push button on white: the popover's page and type-size buttons.
class ThemePageButton : public QPushButton {
public:
    explicit ThemePageButton(const QString& text = {}, QWidget* parent = nullptr);
};

// A flat button that fills its background colour under its title and dims to 0.6 while pressed.
class TextButton : public QAbstractButton {
public:
    static constexpr double PressedOpacity = 0.6;

    explicit TextButton(QWidget* parent = nullptr);

    const QColor& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const QColor& color);
    // A new title drops the colour given by setTextColor().
    void setTitle(const QString& text, const QFont& font);
    void setTextColor(const QColor& color);
    // Invalid while the palette's colour applies.
    const QColor& textColor() const { return textColor_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor backgroundColor_;
    QColor textColor_;
};
