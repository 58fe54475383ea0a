#pragma once

#include "text/AttributedString.h"

#include <QTextLayout>
#include <QWidget>

#include <memory>
#include <vector>

// Draws a styled text (fonts, colours, strike-through, paragraph indents) wrapped to its width, from
// the top left; lines that do not fit whole are left out. The text is shared, never copied or changed.
class AttributedLabel : public QWidget {
public:
    explicit AttributedLabel(QWidget* parent = nullptr);

    void setAttributedText(std::shared_ptr<const AttributedString> text);
    const std::shared_ptr<const AttributedString>& attributedText() const { return text_; }

    // The height the text takes at the width.
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // One layout per paragraph, lines placed from y 0 at the width; returns the total height.
    // The bottom of the last line that fits whole in the height.
    double wholeLinesBottom() const;
    static double layOut(const AttributedString& text, double width,
                         std::vector<std::unique_ptr<QTextLayout>>* layouts);

    std::shared_ptr<const AttributedString> text_;
    std::vector<std::unique_ptr<QTextLayout>> layouts_;
};
