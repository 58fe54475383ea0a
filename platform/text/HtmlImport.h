#pragma once

#include "text/AttributedString.h"

#include <QString>
#include <QTextDocument>

// Makes attributed text from an HTML page, the way formatted text is pasted elsewhere: fonts (with
// their boldness and slant), colours, strike-through, links and line heights survive; a line feed
// separates paragraphs and list items start with their marker and a tab. The page is the user's own
// content: nothing in it is fetched or run. Needs a QGuiApplication (fonts); main thread only.
namespace HtmlImport {

// A rich-text document that loads nothing a page names: no image, style sheet or file, local or
// remote (laying out "<img src=/dev/zero>" would never end). Every note page is laid out in one.
class ClosedDocument : public QTextDocument {
protected:
    QVariant loadResource(int type, const QUrl& name) override;
};

AttributedString attributedStringWithHTML(const QString& html);

// Qt's rich text ignores line heights in em: "line-height: 1.5em" before the body becomes
// "line-height: 150%".
QString withPercentLineHeights(const QString& html);

} // namespace HtmlImport
