#include "Export/ExportOptionsViewController.h"

#include "UserDefaults.h"
#include "kit/SavePanel.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>

namespace {

const QString LastExportOutputKey = QStringLiteral("lastExportOutput");

QString localized(const char* text)
{
    return QCoreApplication::translate("ExportOptionsViewController", text);
}

} // namespace

ExportOptionsViewController::ExportOptionsViewController(QObject* parent) : QObject(parent) {}

ExportOptionsViewController::~ExportOptionsViewController()
{
    if (view_ && !view_->parent())
        delete view_;
}

void ExportOptionsViewController::loadView()
{
    if (view_)
        return;
    view_ = new QWidget;
    label_ = new QLabel(localized("Format:"), view_);
    popUpButton_ = new QComboBox(view_);
    popUpButton_->addItem(localized("PDF"), QVariant::fromValue(int64_t(ExportOutputPDF)));
    popUpButton_->addItem(localized("HTML"), QVariant::fromValue(int64_t(ExportOutputHTML)));
    connect(popUpButton_, &QComboBox::activated, this, [this] { exportOutputDidChange(); });
    auto* layout = new QHBoxLayout(view_);
    layout->addStretch();
    layout->addWidget(label_);
    layout->addWidget(popUpButton_);
    layout->addStretch();
}

QWidget* ExportOptionsViewController::view()
{
    loadView();
    return view_;
}

QLabel* ExportOptionsViewController::label()
{
    loadView();
    return label_;
}

QComboBox* ExportOptionsViewController::popUpButton()
{
    loadView();
    return popUpButton_;
}

void ExportOptionsViewController::restoreExportOptions()
{
    loadView();
    const ExportOutput remembered =
        findExportOutputWithPathExtension(UserDefaults::standard().stringForKey(LastExportOutputKey));
    const int index = popUpButton_->findData(QVariant::fromValue(int64_t(remembered == ExportOutputNone ? ExportOutputPDF : remembered)));
    popUpButton_->setCurrentIndex(index);
    if (savePanel_)
        savePanel_->setAllowedFileTypes({pathExtensionForExportOutput(exportOutput())});
}

void ExportOptionsViewController::exportOutputDidChange()
{
    if (!savePanel_ || QFileInfo(savePanel_->nameFieldStringValue()).suffix().isEmpty())
        return;
    savePanel_->setAllowedFileTypes({pathExtensionForExportOutput(exportOutput())});
}

void ExportOptionsViewController::saveExportOptions()
{
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setString(pathExtensionForExportOutput(exportOutput()), LastExportOutputKey);
    defaults.synchronize();
}

QString ExportOptionsViewController::takeConfirmedPath(const QString& path)
{
    loadView();
    const QString typed = QFileInfo(savePanel_ ? savePanel_->nameFieldStringValue() : path).fileName();
    const ExportOutput named = findExportOutputWithPathExtension(QFileInfo(typed).suffix().toLower());
    if (named != ExportOutputNone) {
        popUpButton_->setCurrentIndex(popUpButton_->findData(QVariant::fromValue(int64_t(named))));
        return path;
    }
    const QFileInfo chosen(path);
    const QString extension = pathExtensionForExportOutput(exportOutput());
    if (chosen.suffix().compare(extension, Qt::CaseInsensitive) == 0)
        return path;
    // The panel adds its type's extension to a bare name; that one gives way to the format's.
    const bool added = chosen.fileName() != typed && chosen.fileName().startsWith(typed + QLatin1Char('.'));
    return (added ? chosen.dir().filePath(typed) : path) + QLatin1Char('.') + extension;
}

ExportOutput ExportOptionsViewController::exportOutput() const
{
    return popUpButton_ ? ExportOutput(popUpButton_->currentData().toLongLong()) : ExportOutputNone;
}

ExportOutput ExportOptionsViewController::findExportOutputWithPathExtension(const QString& extension)
{
    if (extension == QLatin1String("pdf"))
        return ExportOutputPDF;
    if (extension == QLatin1String("html"))
        return ExportOutputHTML;
    return ExportOutputNone;
}

QString ExportOptionsViewController::pathExtensionForExportOutput(ExportOutput output)
{
    return output == ExportOutputHTML ? QStringLiteral("html") : QStringLiteral("pdf");
}
