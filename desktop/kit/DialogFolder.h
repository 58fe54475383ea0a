#pragma once

#include <QString>

class QPrintDialog;
class QPrinter;

// Where the dialogs that write a file open: the folder last written into while it still exists, else
// the user's documents folder (the home folder when there is none), never the working folder.
namespace DialogFolder {

QString startDirectory();
// Kept in the user defaults, so the next launch opens there too.
void rememberDirectory(const QString& folder);

// The print dialog's "print to file" name starts in the start directory.
void preparePrintDialog(QPrintDialog& dialog);
// After the dialog was accepted: the folder of the file the printer writes, when it prints to a file.
void rememberPrintDirectory(const QPrinter& printer);

} // namespace DialogFolder
