#pragma once

#include "text/AttributedString.h"

#include <QString>

// Makes attributed text from an HTML page, the way formatted text is pasted elsewhere: fonts (with
// their boldness and slant), colours, strike-through, links and line heights survive; a line feed
// separates paragraphs and list items start with their marker and a tab. The page is the user's own
// content: nothing in it is fetched or run. Needs a QGuiApplication (fonts); main thread only.
namespace HtmlImport {

AttributedString attributedStringWithHTML(const QString& html);

// Qt's rich text ignores line heights in em: "line-height: 1.5em" becomes "line-height: 150%".
QString withPercentLineHeights(const QString& html);

} // namespace HtmlImport
