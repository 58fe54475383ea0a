#include "panes/QuickOpenPresenter.h"

#include "panes/FolderViewController.h"
#include "panes/ListViewController.h"
#include "panes/NoteTextView.h"
#include "panes/NoteViewController.h"

#include "Core.h"

#include <QShortcut>

QuickOpenPresenter::QuickOpenPresenter(QWidget* host, FolderViewController& folders, ListViewController& list,
                                       NoteViewController& editor)
    : QObject(host), host_(host), folders_(folders), list_(list), editor_(editor)
{
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), host);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, &QuickOpenPresenter::showOpenQuickly);
}

void QuickOpenPresenter::showOpenQuickly()
{
    if (!panel_) {
        panel_ = new QuickOpenViewController(Core::shared(), this);
        panel_->view()->setParent(host_);
    }
    panel_->setDelegate(this);
    panel_->view()->show();
    panel_->showQuickOpen();
}

void QuickOpenPresenter::hideQuickOpen()
{
    if (panel_)
        panel_->view()->hide();
}

QWidget* QuickOpenPresenter::containerViewForQuickOpen(QuickOpenViewController&)
{
    return editor_.view();
}

void QuickOpenPresenter::quickOpenDidEnterCommand(QuickOpenViewController&, const QString& command)
{
    hideQuickOpen();
    if (command.startsWith(QLatin1Char(':')))
        editor_.goToLine(command.mid(1).toLongLong());
    focusEditor();
}

void QuickOpenPresenter::quickOpenDidSelectStorage(QuickOpenViewController& panel, int storage, const QString& tag)
{
    panel.restoreFirstResponder();
    hideQuickOpen();
    showStorage(storage, tag, [this, selected = list_.selectedNote()] {
        if (!list_.selectNote(selected))
            list_.selectNote(nullptr);
        focusEditor();
    });
}

// A note outside the shown storage first switches the panes to its storage.
void QuickOpenPresenter::quickOpenDidSelectNote(QuickOpenViewController& panel, const NotePtr& note)
{
    panel.restoreFirstResponder();
    hideQuickOpen();
    if (list_.selectNote(note))
        return openInEditor(note);
    showStorage(note->storage(), QString(), [this, note] {
        if (!list_.selectNote(note))
            list_.selectNone();
        openInEditor(note);
    });
}

void QuickOpenPresenter::showStorage(int storage, const QString& tag, std::function<void()> done)
{
    folders_.selectStorage(storage, tag, [self = QPointer(this), storage, tag, done = std::move(done)](bool) {
        if (self)
            self->list_.selectStorage(storage, tag, [self, done](bool) {
                if (self)
                    done();
            });
    });
}

void QuickOpenPresenter::openInEditor(const NotePtr& note)
{
    const QString query = panel_->searchQuery();
    editor_.showNote(note, [self = QPointer(this), query] {
        if (!self)
            return;
        if (!self->editor_.showFindIndicator(query, true)) {
            self->editor_.restoreInsertionPoint();
            self->editor_.restoreScrollPosition();
        }
        self->focusEditor();
    });
}

void QuickOpenPresenter::focusEditor()
{
    editor_.textView()->setFocus(Qt::OtherFocusReason);
}
