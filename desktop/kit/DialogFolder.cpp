#include "kit/DialogFolder.h"

#include "UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QStandardPaths>

namespace {

const QString LastFolderKey = QStringLiteral("lastSaveFolder");

} // namespace

namespace DialogFolder {

QString startDirectory()
{
    const QString last = UserDefaults::standard().stringForKey(LastFolderKey);
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void rememberDirectory(const QString& folder)
{
    if (folder.isEmpty())
        return;
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setString(QFileInfo(folder).absoluteFilePath(), LastFolderKey);
    defaults.synchronize();
}

// Qt's dialog proposes a file in the working folder (or home); its name field is the one to move.
void preparePrintDialog(QPrintDialog& dialog)
{
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("filename"));
    if (!field)
        return;
    const QString name = QFileInfo(field->text()).fileName();
    field->setText(QDir(startDirectory()).filePath(name.isEmpty() ? QStringLiteral("print.pdf") : name));
}

void rememberPrintDirectory(const QPrinter& printer)
{
    if (!printer.outputFileName().isEmpty())
        rememberDirectory(QFileInfo(printer.outputFileName()).absolutePath());
}

} // namespace DialogFolder
