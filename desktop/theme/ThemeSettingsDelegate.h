#pragma once

#include "theme/ThemeViewController.h"

#include <QObject>
#include <QPointer>

class FolderViewController;
class ListViewController;
class NoteViewController;
#include "kit/Popover.h"

// Opens the theme popover and carries out its choices: stores each in Core and the user defaults,
// then restyles the window and the panes it is given. The main window's controller's part, kept in
// one place until that controller takes it over.
class ThemeSettingsDelegate : public QObject, public ThemeViewControllerDelegate {
public:
    ThemeSettingsDelegate(NoteViewController* editor, FolderViewController* sidebar, ListViewController* list,
                          QObject* parent = nullptr);

    // A new popover of the theme controller beside the anchor; the previous one closes.
    void showTheme(QWidget* anchor);
    Popover* popover() const { return popover_; }

    void themeControllerDidSelectTheme(ThemeViewController&, ThemeID theme) override;
    void themeControllerDidSelectTypeFace(ThemeViewController&, TypefaceID typeface) override;
    void themeControllerDidTapSmallerFontSize(ThemeViewController&) override;
    void themeControllerDidTapLargerFontSize(ThemeViewController&) override;

private:
    QPointer<NoteViewController> editor_;
    QPointer<FolderViewController> sidebar_;
    QPointer<ListViewController> list_;
    QPointer<Popover> popover_;
};
