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
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

const QString LastExportOutput = QStringLiteral("lastExportOutput");

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

void rememberOutput(const QVariant& value)
{
    UserDefaults& defaults = UserDefaults::standard();
    if (value.isValid())
        defaults.setObject(value, LastExportOutput);
    else
        defaults.removeObject(LastExportOutput);
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

    void choose(ExportOutput output)
    {
        QComboBox* popUp = options->popUpButton();
        const int index = popUp->findData(QVariant::fromValue(int64_t(output)));
        popUp->setCurrentIndex(index);
        emit popUp->activated(index);
    }
};

// The export command up to its panel, over a window of its own.
class ExportCommand {
public:
    explicit ExportCommand(const QString& text)
    {
        ExportCommands::exportNote(text, &window_, [this](bool written, const Error& error) {
            done_ = true;
            written_ = written;
            error_ = error;
        });
        DispatchQueue::runMainUntil([this] { return (panel_ = childOfType<SavePanel>(window_)) != nullptr; }, 30);
    }

    SavePanel* panel() const { return panel_; }
    bool finish()
    {
        DispatchQueue::runMainUntil([this] { return done_; }, 60);
        return done_;
    }
    bool written() const { return written_; }
    const Error& error() const { return error_; }
    QMessageBox* alert() const { return window_.findChild<QMessageBox*>(); }

    // Types the whole path into the name field and confirms.
    void save(const QString& path)
    {
        panel_->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog*>(panel_)->accept();
    }

private:
    QWidget window_;
    SavePanel* panel_ = nullptr;
    bool done_ = false;
    bool written_ = false;
    Error error_;
};

} // namespace

TEST(ExportOptions, RemembersTheConfirmedFormat)
{
    const struct {
        const char* name;
        QVariant stored;
        ExportOutput shown;
    } cases[] = {
        {"nothing stored", QVariant(), ExportOutputPDF},
        {"pdf", QStringLiteral("pdf"), ExportOutputPDF},
        {"html", QStringLiteral("html"), ExportOutputHTML},
        {"upper case", QStringLiteral("HTML"), ExportOutputPDF},
        {"other extension", QStringLiteral("txt"), ExportOutputPDF},
        {"a number", 2, ExportOutputPDF},
        {"empty", QString(), ExportOutputPDF},
    };
    for (const auto& c : cases) {
        rememberOutput(c.stored);
        ExportPanel export_(QStringLiteral("Note.pdf"));
        EXPECT_EQ(export_.options->exportOutput(), c.shown) << c.name;
        EXPECT_EQ(export_.panel.allowedFileTypes(), QStringList{ExportOptionsViewController::pathExtensionForExportOutput(c.shown)})
            << c.name;
    }

    rememberOutput(QVariant());
    {
        ExportPanel cancelled(QStringLiteral("Note.pdf"));
        cancelled.choose(ExportOutputHTML);
    }
    EXPECT_FALSE(UserDefaults::standard().objectForKey(LastExportOutput).isValid()) << "a cancelled panel remembers nothing";

    ExportPanel confirmed(QStringLiteral("Note.pdf"));
    confirmed.choose(ExportOutputHTML);
    confirmed.options->saveExportOptions();
    EXPECT_EQ(UserDefaults::standard().stringForKey(LastExportOutput), "html");
    ExportPanel next(QStringLiteral("Other.pdf"));
    EXPECT_EQ(next.options->exportOutput(), ExportOutputHTML);
    EXPECT_EQ(next.panel.allowedFileTypes(), QStringList{"html"});
    EXPECT_EQ(next.panel.nameFieldStringValue(), "Other.html");
    rememberOutput(QVariant());
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
        {"Note.pdf", ExportOutputPDF, {"pdf"}, "Note.pdf"},
        {"my.notes.txt", ExportOutputHTML, {"html"}, "my.notes.html"},
    };
    rememberOutput(QVariant());
    for (const auto& c : cases) {
        ExportPanel export_(QLatin1String(c.name));
        export_.choose(c.choice);
        EXPECT_EQ(export_.options->exportOutput(), c.choice) << c.name;
        EXPECT_EQ(export_.panel.allowedFileTypes(), c.allowed) << c.name;
        EXPECT_EQ(export_.panel.nameFieldStringValue(), c.nameAfter) << c.name;
    }
    const struct {
        QString extension;
        ExportOutput output;
    } mapping[] = {{"pdf", ExportOutputPDF}, {"html", ExportOutputHTML}, {"htm", ExportOutputNone},
                   {"PDF", ExportOutputNone}, {QString(), ExportOutputNone}};
    for (const auto& m : mapping)
        EXPECT_EQ(ExportOptionsViewController::findExportOutputWithPathExtension(m.extension), m.output) << m.extension.toStdString();
    EXPECT_EQ(ExportOptionsViewController::pathExtensionForExportOutput(ExportOutput(7)), "pdf");
}

TEST(ExportCommands, ExportWritesTheChosenFormat)
{
    const QString folder = TestSupport::home() + QStringLiteral("/exports");
    QDir().mkpath(folder);
    TestSupport::writeFile(TestSupport::home() + QStringLiteral("/a-file"), "x");
    const struct {
        const char* name;
        QString text;
        QString proposed;
        ExportOutput output;
        QString path;
        bool written;
    } cases[] = {
        {"pdf", "# Plan for May\n\nSome text", "Plan for May.pdf", ExportOutputPDF, folder + "/plan.pdf", true},
        {"html", "# Plan\n\n**Bold** text", "Plan.pdf", ExportOutputHTML, folder + "/plan.html", true},
        {"empty note", "", "Untitled.pdf", ExportOutputPDF, folder + "/empty.pdf", true},
        {"pdf under a file", "x", "x.pdf", ExportOutputPDF, TestSupport::home() + "/a-file/x.pdf", false},
        {"html under a file", "x", "x.pdf", ExportOutputHTML, TestSupport::home() + "/a-file/x.html", false},
    };
    for (const auto& c : cases) {
        rememberOutput(QVariant());
        ExportCommand command(c.text);
        ASSERT_NE(command.panel(), nullptr) << c.name;
        EXPECT_EQ(command.panel()->nameFieldStringValue(), c.proposed) << c.name;
        auto* options = childOfType<ExportOptionsViewController>(*command.panel());
        QComboBox* popUp = options->popUpButton();
        popUp->setCurrentIndex(popUp->findData(QVariant::fromValue(int64_t(c.output))));
        command.panel()->setAllowedFileTypes({ExportOptionsViewController::pathExtensionForExportOutput(c.output)});
        command.save(c.path);
        ASSERT_TRUE(command.finish()) << c.name;
        EXPECT_EQ(command.written(), c.written) << c.name;
        EXPECT_EQ(QFile::exists(c.path), c.written) << c.name;
        EXPECT_EQ(UserDefaults::standard().stringForKey(LastExportOutput),
                  ExportOptionsViewController::pathExtensionForExportOutput(c.output))
            << c.name;
        EXPECT_EQ(command.alert() != nullptr, !c.written) << c.name;
        if (command.alert())
            EXPECT_EQ(command.alert()->informativeText(), command.error().localizedDescription()) << c.name;
        if (c.written && c.output == ExportOutputHTML)
            EXPECT_EQ(QString::fromUtf8(TestSupport::readFile(c.path)), MarkdownFormatter::htmlForPrintingWithMarkdownText(c.text));
        if (c.written && c.output == ExportOutputPDF)
            EXPECT_TRUE(TestSupport::readFile(c.path).startsWith("%PDF")) << c.name;
    }

    rememberOutput(QStringLiteral("html"));
    ExportCommand cancelled(QStringLiteral("text"));
    ASSERT_NE(cancelled.panel(), nullptr);
    cancelled.panel()->reject();
    ASSERT_TRUE(cancelled.finish());
    EXPECT_FALSE(cancelled.written());
    EXPECT_TRUE(cancelled.error().isNull());
    EXPECT_EQ(cancelled.alert(), nullptr);
    EXPECT_EQ(UserDefaults::standard().stringForKey(LastExportOutput), "html");
    rememberOutput(QVariant());
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
    EXPECT_FALSE(data->text().contains(u'*'));
    EXPECT_TRUE(data->hasHtml());
    // The bold run keeps its weight in the rich text, the link its target.
    const QRegularExpressionMatch bold = QRegularExpression(QStringLiteral(R"(font-weight:(\d+);">bold<)")).match(data->html());
    EXPECT_GE(bold.captured(1).toInt(), 600) << data->html().toStdString();
    EXPECT_TRUE(data->html().contains(QStringLiteral("href=\"brindlewick://hashtag/tag\"")));
}
