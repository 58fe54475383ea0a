#include "views/AttributedLabel.h"

#include "kit/QtColor.h"

#include "text/FontFaces.h"

#include <QPainter>

#include <cmath>

namespace {

QTextCharFormat charFormat(const TextAttributes& attributes)
{
    QTextCharFormat format;
    if (attributes.font)
        format.setFont(FontFaces::qfont(*attributes.font));
    if (attributes.foregroundColor)
        format.setForeground(toQColor(*attributes.foregroundColor));
    format.setFontStrikeOut(attributes.strikethroughStyle.value_or(0) != 0);
    return format;
}

} // namespace

AttributedLabel::AttributedLabel(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void AttributedLabel::setAttributedText(std::shared_ptr<const AttributedString> text)
{
    if (text == text_)
        return;
    // A list reloaded with the same rows gives its labels equal texts: laying them out again would cost
    // most of its paint.
    const bool same = text && text_ && text->isEqualToAttributedString(*text_);
    text_ = std::move(text);
    if (same)
        return;
    layouts_.clear();
    update();
}

int AttributedLabel::heightForWidth(int width) const
{
    return text_ ? int(std::ceil(layOut(*text_, width, nullptr))) : 0;
}

void AttributedLabel::resizeEvent(QResizeEvent*)
{
    layouts_.clear();
}

void AttributedLabel::paintEvent(QPaintEvent*)
{
    if (!text_)
        return;
    if (layouts_.empty())
        layOut(*text_, width(), &layouts_);
    QPainter painter(this);
    painter.setClipRect(QRectF(0, 0, width(), wholeLinesBottom()));
    for (const auto& layout : layouts_)
        layout->draw(&painter, {0, 0});
}

double AttributedLabel::wholeLinesBottom() const
{
    double bottom = 0;
    for (const auto& layout : layouts_)
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            if (line.y() + line.height() > height())
                return bottom;
            bottom = line.y() + line.height();
        }
    return bottom;
}

double AttributedLabel::layOut(const AttributedString& text, double width,
                               std::vector<std::unique_ptr<QTextLayout>>* layouts)
{
    const QString& string = text.string();
    double y = 0;
    qsizetype start = 0;
    while (start <= string.size()) {
        qsizetype end = string.indexOf(u'\n', start);
        if (end < 0)
            end = string.size();
        const TextAttributes& first = text.attributesAtIndex(std::min(start, string.size() - 1));
        const ParagraphStyle paragraph = first.paragraphStyle.value_or(ParagraphStyle{});
        auto layout = std::make_unique<QTextLayout>(string.mid(start, end - start), charFormat(first).font());
        QList<QTextLayout::FormatRange> formats;
        text.enumerateAttributes({start, end - start}, [&](const TextAttributes& attributes, TextRange range) {
            formats.append({int(range.location - start), int(range.length), charFormat(attributes)});
        });
        layout->setFormats(formats);
        layout->setCacheEnabled(true);
        layout->beginLayout();
        for (bool firstLine = true;; firstLine = false) {
            QTextLine line = layout->createLine();
            if (!line.isValid())
                break;
            const double indent = firstLine ? paragraph.firstLineHeadIndent : paragraph.headIndent;
            line.setLineWidth(std::max(width - indent, 1.0));
            line.setPosition({indent, y});
            y += line.height();
        }
        layout->endLayout();
        if (layouts)
            layouts->push_back(std::move(layout));
        if (end == string.size())
            break;
        start = end + 1;
    }
    return y;
}
