#pragma once

#include <QString>

class QTextDocument;

// What a note page needs before Qt's rich text may lay it out. Its HTML parser walks every open
// element for each new one, so a deep note (a line of 100,000 ">") would take hours; and its image
// handler reads an image's name as a file path when the document has no image of that name, so a note
// could put any local image into a PDF.
namespace RichTextPage {

// Elements open inside one another (the page's html and body among them) that reach the layout.
constexpr int MaxNesting = 32;

// The page with every start tag that would open an element deeper than MaxNesting left out, with its
// end tag: what lies inside renders flat at the deepest level. Tags are read the way Qt's parser reads
// them, with its implicit ends (a paragraph or list item ends the one open before it, a table cell its
// neighbour); where a reading differs, more is counted open, never less. Style sheet links are left
// out too: the parser would hide everything after one.
QString withNestingCapped(const QString& html);

// Indents of a parsed page's blocks and lists cut to `maxIndent` layout units, so that text nested
// deep still has room on the page.
void limitIndentation(QTextDocument& document, double maxIndent);

// Every image of a parsed page becomes its alternative text (nothing when it has none): the
// application supplies no image to a page, and Qt would read any other from disk itself.
void showImagesAsText(QTextDocument& document);

} // namespace RichTextPage
