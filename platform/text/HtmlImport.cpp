#include "text/HtmlImport.h"

#include "text/FontFaces.h"

#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextList>

namespace {

std::optional<Color> colorOf(const QBrush& brush)
{
    if (brush.style() == Qt::NoBrush)
        return std::nullopt;
    const QColor c = brush.color().toRgb();
    return Color::fromRGBA8(c.red(), c.green(), c.blue(), c.alpha());
}

std::optional<ParagraphStyle> paragraphStyleOf(const QTextBlockFormat& format)
{
    if (format.lineHeightType() != QTextBlockFormat::ProportionalHeight)
        return std::nullopt;
    ParagraphStyle style;
    style.lineHeightMultiple = format.lineHeight() / 100.0;
    return style;
}

TextAttributes attributesOf(const QTextCharFormat& format, const QFont& documentFont,
                            const std::optional<ParagraphStyle>& paragraphStyle)
{
    TextAttributes attributes;
    attributes.font = FontFaces::font(format.font().resolve(documentFont));
    if (format.hasProperty(QTextFormat::ForegroundBrush))
        attributes.foregroundColor = colorOf(format.foreground());
    if (format.isAnchor() && !format.anchorHref().isEmpty())
        attributes.link = format.anchorHref();
    if (format.fontStrikeOut())
        attributes.strikethroughStyle = 1;
    attributes.paragraphStyle = paragraphStyle;
    return attributes;
}

// The marker a list item starts with: a bullet, or its number.
QString listMarker(const QTextBlock& block)
{
    const QTextList* list = block.textList();
    switch (list->format().style()) {
    case QTextListFormat::ListDisc:
    case QTextListFormat::ListCircle:
    case QTextListFormat::ListSquare:
    case QTextListFormat::ListStyleUndefined:
        return QStringLiteral("\u2022\t");
    default:
        return list->itemText(block) + QLatin1Char('\t');
    }
}

} // namespace

namespace HtmlImport {

QVariant ClosedDocument::loadResource(int, const QUrl&)
{
    return {};
}

QString withPercentLineHeights(const QString& html)
{
    static const QRegularExpression em(QStringLiteral(R"(line-height:\s*([0-9]*\.?[0-9]+)em)"));
    // The head only: the same words in the note's own text stay as written.
    const qsizetype body = html.indexOf(QLatin1String("<body"), 0, Qt::CaseInsensitive);
    QString out;
    qsizetype copied = 0;
    for (auto it = em.globalMatch(QStringView(html).left(body < 0 ? html.size() : body)); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        out += QStringView(html).mid(copied, match.capturedStart() - copied);
        out += QStringLiteral("line-height: %1%").arg(qRound(match.captured(1).toDouble() * 100));
        copied = match.capturedEnd();
    }
    out += QStringView(html).mid(copied);
    return out;
}

AttributedString attributedStringWithHTML(const QString& html)
{
    ClosedDocument document;
    document.setHtml(withPercentLineHeights(html));
    const QFont documentFont = document.defaultFont();
    AttributedString result;
    const auto append = [&result](const QString& text, const TextAttributes& attributes) {
        const qsizetype at = result.length();
        result.replaceCharacters({at, 0}, text);
        result.setAttributes(attributes, {at, text.size()});
    };
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const std::optional<ParagraphStyle> paragraphStyle = paragraphStyleOf(block.blockFormat());
        const TextAttributes blockAttributes = attributesOf(block.charFormat(), documentFont, paragraphStyle);
        if (block.textList())
            append(listMarker(block), blockAttributes);
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                append(fragment.text(), attributesOf(fragment.charFormat(), documentFont, paragraphStyle));
        }
        if (block.next().isValid())
            append(QStringLiteral("\n"), blockAttributes);
    }
    return result;
}

} // namespace HtmlImport
