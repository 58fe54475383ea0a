#pragma once

#include "Error.h"

#include <QString>

#include <functional>

class QWidget;

// The print, export and copy commands of the main window. Each takes the text it works on (the
// editor's, or for copying its selection when there is one) and the window its panels belong to.
// Pages are built on the core's file queue; panels, alerts and the clipboard are the main thread's.
namespace ExportCommands {

// Once the written file is complete, or false with the error (null when the user cancelled).
using Completion = std::function<void(bool written, const Error& error)>;

// Plain print with the print dialog.
void printNote(const QString& text, QWidget* window);
// The printing page with the print dialog.
void printNoteFormatted(const QString& text, QWidget* window);

// Proposes the note's name in the export panel, over the window; on OK remembers the chosen format and
// writes the note in it. A failed write is shown in an alert over the window.
void exportNote(const QString& text, QWidget* window, Completion done = {});
void markdownTextWritePDFToURL(const QString& text, const QString& path, QWidget* window, Completion done = {});
void markdownTextWriteHTMLToURL(const QString& text, const QString& path, QWidget* window, Completion done = {});

// The note's cleaned title, or "Untitled", with the extension: the name proposed for an exported or
// shared file. File queue (it reads the title the way the store does).
QString fileNameForText(const QString& text, const QString& extension);
// The HTML fragment as plain text.
void copyNoteHTML(const QString& text);
// The note as formatted text: rich text with the plain text beside it.
void copyNoteFormattedText(const QString& text);

} // namespace ExportCommands
