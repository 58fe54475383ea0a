#include "kit/SavePanel.h"

#include "kit/DialogFolder.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>

SavePanel::SavePanel(QWidget* parent) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setDirectory(DialogFolder::startDirectory());
    // The allowed types come from the caller (an accessory may offer the choice): no picker of its own.
    for (const char* name : {"fileTypeCombo", "fileTypeLabel"})
        if (QWidget* picker = findChild<QWidget*>(QLatin1String(name)))
            picker->hide();
}

void SavePanel::setNameFieldLabel(const QString& label)
{
    setLabelText(QFileDialog::FileName, label);
}

QLineEdit* SavePanel::nameField() const
{
    return findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

QString SavePanel::nameFieldStringValue() const
{
    const QLineEdit* field = nameField();
    return field ? field->text() : QString();
}

void SavePanel::setNameFieldStringValue(const QString& name)
{
    selectFile(name);
    if (QLineEdit* field = nameField())
        field->setText(name);
}

void SavePanel::setAllowedFileTypes(const QStringList& types)
{
    allowedFileTypes_ = types;
    QStringList patterns;
    for (const QString& type : types)
        patterns += QStringLiteral("*.") + type;
    setNameFilter(types.isEmpty() ? QString() : QStringLiteral("%1 (%2)").arg(types.first().toUpper(), patterns.join(u' ')));
    setDefaultSuffix(types.value(0));

    const QString name = nameFieldStringValue();
    const QString extension = QFileInfo(name).suffix();
    if (!types.isEmpty() && !extension.isEmpty() && !types.contains(extension, Qt::CaseInsensitive))
        setNameFieldStringValue(name.left(name.size() - extension.size()) + types.first());
}

void SavePanel::setAccessoryView(QWidget* view)
{
    delete accessoryView_;
    accessoryView_ = view;
    if (!view)
        return;
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(view, grid->rowCount(), 0, 1, grid->columnCount());
    else
        layout()->addWidget(view);
}

QString SavePanel::path() const
{
    return selectedFiles().value(0);
}

void SavePanel::beginSheetModalForWindow(QWidget* window, std::function<void(ModalResponse)> handler)
{
    if (window && parentWidget() != window)
        setParent(window, windowFlags());
    setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(this, &QDialog::finished, this, [this, handler = std::move(handler)](int result) {
        if (result == QDialog::Accepted)
            DialogFolder::rememberDirectory(QFileInfo(path()).absolutePath());
        if (handler)
            handler(result == QDialog::Accepted ? ModalResponseOK : ModalResponseCancel);
    });
    show();
}
