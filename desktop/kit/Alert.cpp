#include "kit/Alert.h"

#include "Folders.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QPushButton>
#include <QWindow>

namespace {

QMessageBox::Icon iconFor(Alert::Style style)
{
    switch (style) {
    case Alert::Style::Informational:
        return QMessageBox::Information;
    case Alert::Style::Warning:
        return QMessageBox::Warning;
    case Alert::Style::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

// The sheet keeps the keys until it is answered: a click on the window it blocks may give that
// window the focus, where every key would be dropped, so the activation goes back to the sheet.
void keepKeys(QMessageBox& box)
{
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, &box, [&box](QWindow* focus) {
        const QWidget* blocked = box.parentWidget() ? box.parentWidget()->window() : nullptr;
        if (focus && blocked && focus == blocked->windowHandle() && box.isVisible()) {
            box.raise();
            box.activateWindow();
        }
    });
}

} // namespace

QMessageBox* Alert::beginSheetModal(QWidget* window, std::function<void(int response)> handler) const
{
    auto* box = new QMessageBox(iconFor(style_), QString(), message_, QMessageBox::NoButton, window);
    box->setInformativeText(informative_);
    // A sheet: the application's name above it and no buttons to shrink, grow or close it.
    box->setWindowTitle(Folders::displayName());
    // Flags last and before showing: the box's modality setter puts back its own flags, and flags
    // changed on a shown window hide it and map it again, which a window manager may never finish.
    box->setWindowModality(Qt::WindowModal);
    box->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QList<QAbstractButton*> buttons;
    for (qsizetype i = 0; i < buttons_.size(); ++i) {
        const bool cancel = buttons_[i] == QCoreApplication::translate("Alert", "Cancel");
        QPushButton* button = box->addButton(buttons_[i], i == 0 ? QMessageBox::AcceptRole
                                                          : cancel ? QMessageBox::RejectRole
                                                                   : QMessageBox::ActionRole);
        if (cancel)
            box->setEscapeButton(button);
        buttons.append(button);
    }
    if (!buttons.isEmpty())
        box->setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    QObject::connect(box, &QMessageBox::buttonClicked, box, [buttons, handler = std::move(handler)](QAbstractButton* b) {
        if (handler)
            handler(FirstButtonReturn + int(buttons.indexOf(b)));
    });
    keepKeys(*box);
    box->open();
    return box;
}
