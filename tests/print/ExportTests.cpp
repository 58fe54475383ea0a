#include "Export/ExportCommands.h"
#include "Export/ExportOptionsViewController.h"
#include "Export/MarkdownFormatter.h"
#include "kit/SavePanel.h"

#include "Dispatch.h"
#include "TestSupport.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

const QString LastExportOutput = QStringLiteral("lastExportOutput");

void remember(const QVariant& value)
{
    if (value.isValid())
        UserDefaults::standard().setObject(value, LastExportOutput);
    else
        UserDefaults::standard().removeObject(LastExportOutput);
}

// Our classes carry no meta-object of their own, so Qt's child lookup cannot tell them apart.
template <typename T>
T* childOfType(const QObject& parent)
{
    for (QObject* child : parent.findChildren<QObject*>()) {
        if (auto* found = dynamic_cast<T*>(child))
            return found;
    }
    return nullptr;
}

// Picks a format in the pop-up the way a click does.
void choose(ExportOptionsViewController& options, ExportOutput output)
{
    QComboBox* popUp = options.popUpButton();
    popUp->setCurrentIndex(popUp->findData(QVariant::fromValue(int64_t(output))));
    emit popUp->activated(popUp->currentIndex());
}

// A panel with its options, as the export command sets them up.
struct ExportPanel {
    SavePanel panel;
    ExportOptionsViewController* options = new ExportOptionsViewController(&panel);

    explicit ExportPanel(const QString& name)
    {
        panel.setNameFieldStringValue(name);
        options->setSavePanel(&panel);
        options->restoreExportOptions();
        panel.setAccessoryView(options->view());
    }
};

// The export command over a window of its own, up to its panel and then to its end.
struct ExportCommand {
    QWidget window;
    SavePanel* panel = nullptr;
    std::optional<bool> written;
    Error error;

    explicit ExportCommand(const QString& text)
    {
        ExportCommands::exportNote(text, &window, [this](bool ok, const Error& e) { written = ok, error = e; });
        DispatchQueue::runMainUntil([this] { return (panel = childOfType<SavePanel>(window)) != nullptr; }, 30);
    }

    // Types the whole path into the name field and confirms, or cancels with no path.
    void finish(const QString& path)
    {
        if (path.isEmpty()) {
            panel->reject();
        } else {
            panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
            static_cast<QDialog*>(panel)->accept();
        }
        DispatchQueue::runMainUntil([this] { return written.has_value(); }, 60);
    }
};

} // namespace

TEST(ExportOptions, StartsOnTheLastConfirmedFormat)
{
    const struct {
        QVariant stored;
        ExportOutput shown;
    } cases[] = {{QVariant(), ExportOutputPDF},          {QStringLiteral("pdf"), ExportOutputPDF},
                 {QStringLiteral("html"), ExportOutputHTML}, {QStringLiteral("HTML"), ExportOutputPDF},
                 {QStringLiteral("txt"), ExportOutputPDF},   {2, ExportOutputPDF}};
    for (const auto& c : cases) {
        remember(c.stored);
        ExportPanel export_(QStringLiteral("Note.pdf"));
        const QString extension = c.shown == ExportOutputHTML ? QStringLiteral("html") : QStringLiteral("pdf");
        EXPECT_EQ(export_.options->exportOutput(), c.shown) << c.stored.toString().toStdString();
        EXPECT_EQ(export_.panel.allowedFileTypes(), QStringList{extension});
        EXPECT_EQ(export_.panel.nameFieldStringValue(), QStringLiteral("Note.") + extension);
    }

    remember(QVariant());
    ExportPanel confirmed(QStringLiteral("Note.pdf"));
    choose(*confirmed.options, ExportOutputHTML);
    confirmed.options->saveExportOptions();
    EXPECT_EQ(ExportPanel(QStringLiteral("Next.pdf")).options->exportOutput(), ExportOutputHTML);
    remember(QVariant());
}

TEST(ExportOptions, ChoosingAFormatFollowsTheNameField)
{
    const struct {
        const char* name;
        ExportOutput choice;
        QStringList allowed;
        const char* nameAfter;
    } cases[] = {
        {"Note.pdf", ExportOutputHTML, {"html"}, "Note.html"},
        {"Note", ExportOutputHTML, {"pdf"}, "Note"},
        {"Note.html", ExportOutputPDF, {"pdf"}, "Note.pdf"},
        {"my.notes.txt", ExportOutputHTML, {"html"}, "my.notes.html"},
    };
    remember(QVariant());
    for (const auto& c : cases) {
        ExportPanel export_(QLatin1String(c.name));
        choose(*export_.options, c.choice);
        EXPECT_EQ(export_.panel.allowedFileTypes(), c.allowed) << c.name;
        EXPECT_EQ(export_.panel.nameFieldStringValue(), c.nameAfter) << c.name;
    }
}

TEST(ExportCommands, ExportWritesTheChosenFormatOrShowsTheFailure)
{
    const QString home = TestSupport::home();
    TestSupport::writeFile(home + QStringLiteral("/a-file"), "x");
    const struct {
        QString text;
        QString proposed;
        ExportOutput output;
        QString path;
        QString written = {};
        ExportOutput writtenOutput = ExportOutputNone;
        QString nameBeforeChoice = {};
    } cases[] = {
        {"# Plan for May\n\nSome text", "Plan for May.pdf", ExportOutputPDF, home + "/plan.pdf"},
        {"# Plan\n\n**Bold** text", "Plan.pdf", ExportOutputHTML, home + "/plan.html"},
        {"", "Untitled.pdf", ExportOutputPDF, home + "/empty.pdf"},
        {"x", "x.pdf", ExportOutputPDF, home + "/a-file/x.pdf"},
        {"x", "x.pdf", ExportOutputHTML, home + "/a-file/x.html"},
        // The typed extension names the format; any other gets the chosen format's beside it.
        {"# Second", "Second.pdf", ExportOutputHTML, home + "/second.pdf", {}, ExportOutputPDF},
        {"# Second", "Second.pdf", ExportOutputPDF, home + "/second-e.html", {}, ExportOutputHTML},
        {"# Second", "Second.pdf", ExportOutputHTML, home + "/third.PDF", {}, ExportOutputPDF},
        {"# Second", "Second.pdf", ExportOutputHTML, home + "/notes.txt", home + "/notes.txt.html"},
        {"# Second", "Second.pdf", ExportOutputHTML, home + "/bare", home + "/bare.html", ExportOutputNone, "bare"},
    };
    for (const auto& c : cases) {
        remember(QVariant());
        ExportCommand command(c.text);
        ASSERT_NE(command.panel, nullptr);
        EXPECT_EQ(command.panel->nameFieldStringValue(), c.proposed);
        if (!c.nameBeforeChoice.isEmpty())
            command.panel->setNameFieldStringValue(c.nameBeforeChoice);
        choose(*childOfType<ExportOptionsViewController>(*command.panel), c.output);
        command.finish(c.path);
        const QString written = c.written.isEmpty() ? c.path : c.written;
        const ExportOutput output = c.writtenOutput == ExportOutputNone ? c.output : c.writtenOutput;
        const bool expected = !c.path.contains(QLatin1String("a-file"));
        EXPECT_EQ(command.written, expected) << c.path.toStdString();
        EXPECT_EQ(QFile::exists(written), expected) << written.toStdString();
        EXPECT_EQ(UserDefaults::standard().stringForKey(LastExportOutput),
                  ExportOptionsViewController::pathExtensionForExportOutput(output));
        const QMessageBox* alert = command.window.findChild<QMessageBox*>();
        EXPECT_EQ(alert ? alert->informativeText() : QString(), expected ? QString() : command.error.localizedDescription());
        if (expected) {
            const QByteArray bytes = TestSupport::readFile(written);
            EXPECT_EQ(output == ExportOutputHTML ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes.left(4)),
                      output == ExportOutputHTML ? MarkdownFormatter::htmlForPrintingWithMarkdownText(c.text)
                                                 : QStringLiteral("%PDF"))
                << written.toStdString();
        }
    }

    remember(QStringLiteral("html"));
    ExportCommand cancelled(QStringLiteral("text"));
    ASSERT_NE(cancelled.panel, nullptr);
    choose(*childOfType<ExportOptionsViewController>(*cancelled.panel), ExportOutputPDF);
    cancelled.finish(QString());
    EXPECT_EQ(cancelled.written, false);
    EXPECT_TRUE(cancelled.error.isNull());
    EXPECT_EQ(cancelled.window.findChild<QMessageBox*>(), nullptr);
    EXPECT_EQ(UserDefaults::standard().stringForKey(LastExportOutput), "html");
    remember(QVariant());
}

TEST(ExportCommands, ThePanelOffersTheFormatsOnceUnderItsOwnTitle)
{
    remember(QVariant());
    ExportCommand command(QStringLiteral("# Plan"));
    ASSERT_NE(command.panel, nullptr);
    command.panel->show();
    QApplication::processEvents();
    EXPECT_EQ(command.panel->windowTitle(), QStringLiteral("Export"));
    // Every visible pop-up but the folder's.
    QStringList pickers;
    for (const QComboBox* box : command.panel->findChildren<QComboBox*>())
        if (box->isVisible() && box->objectName() != QLatin1String("lookInCombo"))
            pickers << box->currentText();
    EXPECT_EQ(pickers.size(), 1) << pickers.join(u',').toStdString();
    ExportOptionsViewController* options = childOfType<ExportOptionsViewController>(*command.panel);
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->view()->isVisible()) << "the formats are the accessory's";
    command.finish(QString());
}

TEST(ExportCommands, CopyPutsHTMLOrFormattedText)
{
    const QString note = QStringLiteral("# Title\n\nSome **bold** words #tag");
    ExportCommands::copyNoteHTML(note);
    EXPECT_EQ(QApplication::clipboard()->text(), MarkdownFormatter::htmlWithMarkdownText(note));

    ExportCommands::copyNoteFormattedText(note);
    const QMimeData* data = QApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->text(), MarkdownFormatter::attributedStringWithMarkdownText(note).string());
    // The bold run keeps its weight in the rich text, the tag its link.
    const QRegularExpressionMatch bold = QRegularExpression(QStringLiteral(R"(font-weight:(\d+);">bold<)")).match(data->html());
    EXPECT_GE(bold.captured(1).toInt(), 600) << data->html().toStdString();
    EXPECT_TRUE(data->html().contains(QStringLiteral("href=\"brindlewick://hashtag/tag\"")));
}
