#include "views/AttributedLabel.h"

#include "text/Font.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

AttributedString paragraphs(const QString& text, const QList<ParagraphStyle>& styles)
{
    AttributedString string(text);
    TextAttributes font;
    font.font = Font::systemFont(14);
    font.foregroundColor = Color{0, 0, 0, 1};
    string.setAttributes(font, {0, text.size()});
    qsizetype start = 0;
    for (const ParagraphStyle& style : styles) {
        qsizetype end = text.indexOf(u'\n', start);
        end = end < 0 ? text.size() : end + 1;
        TextAttributes paragraph;
        paragraph.paragraphStyle = style;
        string.addAttributes(paragraph, {start, end - start});
        start = end;
    }
    return string;
}

// The leftmost column with ink in the rows [top, bottom).
int firstInk(const QImage& image, int top, int bottom)
{
    for (int x = 0; x < image.width(); ++x)
        for (int y = top; y < bottom; ++y)
            if (qGray(image.pixel(x, y)) < 128)
                return x;
    return -1;
}

TEST(ViewsAttributedLabel, WrapsAndIndentsEachParagraph)
{
    AttributedLabel label;
    label.setAttributedText(std::make_shared<const AttributedString>(
        paragraphs(QStringLiteral("MM MM\nMM MM"), {{.firstLineHeadIndent = 40, .headIndent = 40},
                                                  {.firstLineHeadIndent = 10, .headIndent = 10}})));
    const int twoLines = label.heightForWidth(300);
    EXPECT_GT(twoLines, 0);
    // Too narrow for a word beside the indent: every paragraph wraps into more lines.
    EXPECT_GT(label.heightForWidth(60), twoLines);

    label.resize(300, twoLines);
    QImage image(label.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    label.render(&image);
    const int firstHalf = firstInk(image, 0, twoLines / 2);
    const int secondHalf = firstInk(image, twoLines / 2, twoLines);
    EXPECT_GE(firstHalf, 39);
    EXPECT_LT(firstHalf, 50);
    EXPECT_GE(secondHalf, 9);
    EXPECT_LT(secondHalf, 20);
}

// A line cut by the label's bottom edge is left out whole, so a row never shows half a line.
TEST(ViewsAttributedLabel, DrawsOnlyTheLinesThatFitWhole)
{
    AttributedLabel label;
    label.setAttributedText(std::make_shared<const AttributedString>(paragraphs(QStringLiteral("MM\nMM\nMM"), {})));
    const int line = label.heightForWidth(300) / 3;
    const struct {
        int height, linesDrawn;
    } cases[] = {{3 * line + 1, 3}, {2 * line + line / 2, 2}, {2 * line - 1, 1}, {line - 2, 0}};
    for (const auto& c : cases) {
        label.resize(300, c.height);
        QImage image(300, 3 * line + 2, QImage::Format_RGB32);
        image.fill(Qt::white);
        label.render(&image);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(firstInk(image, i * line, (i + 1) * line) >= 0, i < c.linesDrawn) << c.height << " line " << i;
    }
}

} // namespace
