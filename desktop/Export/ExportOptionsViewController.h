#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class QComboBox;
class QLabel;
class QWidget;
class SavePanel;

// The export formats, as the tags of the pop-up's items.
enum ExportOutput : int64_t {
    ExportOutputNone = 0,
    ExportOutputPDF = 1,
    ExportOutputHTML = 2,
};

// The export panel's accessory: a label and a pop-up with the formats. It keeps the panel's allowed
// file type in step with the chosen format and remembers the last confirmed format for the next
// export, under the user default "lastExportOutput".
class ExportOptionsViewController : public QObject {
public:
    explicit ExportOptionsViewController(QObject* parent = nullptr);
    ~ExportOptionsViewController() override;

    // Built on first use; whoever installs it (the panel) owns it.
    QWidget* view();
    QLabel* label();
    QComboBox* popUpButton();

    SavePanel* savePanel() const { return savePanel_; }
    void setSavePanel(SavePanel* panel) { savePanel_ = panel; }

    // Selects the remembered format (PDF when none is) and allows only its extension.
    void restoreExportOptions();
    // The pop-up's action: a name with an extension gets the chosen format's; a bare name is left.
    void exportOutputDidChange();
    // Remembers the chosen format; called once the user confirmed.
    void saveExportOptions();
    ExportOutput exportOutput() const;
    // Once the user confirmed: a typed ".pdf" or ".html" (in any case) picks its format, so the written
    // format and the name agree; any other name keeps the chosen format and gets its extension added.
    // Answers the path to write.
    QString takeConfirmedPath(const QString& path);

    // 1 for "pdf", 2 for "html", 0 for anything else.
    static ExportOutput findExportOutputWithPathExtension(const QString& extension);
    // "html" for HTML, "pdf" for anything else.
    static QString pathExtensionForExportOutput(ExportOutput output);

private:
    void loadView();

    QPointer<QWidget> view_;
    QLabel* label_ = nullptr;
    QComboBox* popUpButton_ = nullptr;
    QPointer<SavePanel> savePanel_;
};
