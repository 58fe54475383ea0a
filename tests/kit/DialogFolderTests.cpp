#include "KitTestSupport.h"

#include "kit/DialogFolder.h"
#include "kit/SavePanel.h"

#include "TestSupport.h"
#include "UserDefaults.h"

#include <QDir>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

// The folder a new save panel and a new print dialog propose.
std::pair<QString, QString> proposed()
{
    SavePanel panel;
    QPrinter printer;
    QPrintDialog print(&printer);
    DialogFolder::preparePrintDialog(print);
    const auto* field = print.findChild<QLineEdit*>(QStringLiteral("filename"));
    return {panel.directory().absolutePath(), field ? QFileInfo(field->text()).absolutePath() : QString()};
}

TEST(KitDialogFolder, DialogsOpenInTheDocumentsFolderThenInTheLastOneWrittenInto)
{
    UserDefaults::standard().removeObject(QStringLiteral("lastSaveFolder"));
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString exports = TestSupport::home() + QStringLiteral("/exports");
    const QString printed = TestSupport::home() + QStringLiteral("/printed");
    const QString working = TestSupport::home() + QStringLiteral("/working");
    for (const QString& folder : {documents, exports, printed, working})
        ASSERT_TRUE(QDir().mkpath(folder));
    const QString before = QDir::currentPath();
    QDir::setCurrent(working);

    EXPECT_EQ(proposed(), std::pair(documents, documents)) << "never the working folder";

    auto* panel = new SavePanel;
    bool confirmed = false;
    panel->beginSheetModalForWindow(nullptr, [&](SavePanel::ModalResponse response) { confirmed = response == SavePanel::ModalResponseOK; });
    panel->selectFile(exports + QStringLiteral("/note.pdf"));
    static_cast<QDialog*>(panel)->accept(); // as the Save button does
    settle();
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(proposed(), std::pair(exports, exports)) << "the folder last saved into";

    QPrinter printer;
    printer.setOutputFileName(printed + QStringLiteral("/note.pdf"));
    DialogFolder::rememberPrintDirectory(printer);
    EXPECT_EQ(DialogFolder::startDirectory(), printed) << "or printed into";
    DialogFolder::rememberPrintDirectory(QPrinter()); // printed on paper: nothing to remember
    EXPECT_EQ(DialogFolder::startDirectory(), printed);

    QDir(printed).removeRecursively();
    EXPECT_EQ(proposed(), std::pair(documents, documents)) << "a folder gone falls back";
    QDir::setCurrent(before);
}

} // namespace
