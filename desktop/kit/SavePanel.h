#pragma once

#include <QFileDialog>
#include <QStringList>

#include <functional>

class QLineEdit;

// A panel that asks where to save a file: the name field with its label, the allowed file types
// (one name filter, the first type's extension appended to a bare name) and an accessory view
// below the panel's own controls. Qt's own dialog, never the desktop's, so the accessory shows. It opens
// in DialogFolder's start directory and remembers the folder a confirmed file goes to.
class SavePanel : public QFileDialog {
public:
    enum ModalResponse { ModalResponseCancel = 0, ModalResponseOK = 1 };

    explicit SavePanel(QWidget* parent = nullptr);

    void setNameFieldLabel(const QString& label);
    QString nameFieldStringValue() const;
    void setNameFieldStringValue(const QString& name);

    // A name ending in another type's extension gets the first allowed one instead.
    void setAllowedFileTypes(const QStringList& types);
    QStringList allowedFileTypes() const { return allowedFileTypes_; }

    // The panel owns the view from now on.
    void setAccessoryView(QWidget* view);
    QWidget* accessoryView() const { return accessoryView_; }

    // The chosen file's path once the user confirmed.
    QString path() const;

    // Shows the panel over the window without blocking; the handler gets the response once, then the
    // panel deletes itself.
    void beginSheetModalForWindow(QWidget* window, std::function<void(ModalResponse)> handler);

private:
    QLineEdit* nameField() const;

    QStringList allowedFileTypes_;
    QWidget* accessoryView_ = nullptr;
};
