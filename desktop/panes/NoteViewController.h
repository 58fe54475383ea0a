#pragma once

#include "kit/ViewController.h"
#include "panes/NoteTextView.h"

#include "Store/Note.h"
#include "Store/Warehouse.h"
#include "Store/WarehouseEditingDelegate.h"
#include "Styling/MarkdownTextStorage.h"
#include "Themes/Typeset.h"
#include "Typewriter/Typewriter.h"

#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>

class Banner;
class FindBar;
class NoteViewController;
class QLabel;

// What the editor pane asks of, and tells, the window that holds it.
class NoteViewControllerDelegate {
public:
    virtual ~NoteViewControllerDelegate() = default;
    virtual int storageForNewNote(NoteViewController& controller) = 0;
    virtual QString textForNewNote(NoteViewController& controller) = 0;
    virtual void noteControllerNoteDidOpen(NoteViewController& controller, const NotePtr& note) = 0;
    // True consumes the key.
    virtual bool noteControllerDidKeyDown(NoteViewController& controller, const QKeyEvent& event) = 0;
    virtual void noteControllerDidBecomeFirstResponder(NoteViewController& controller) = 0;
    virtual void noteControllerDidResignFirstResponder(NoteViewController& controller) = 0;
};

// The editor pane: shows one note at a time in its NoteTextView, styled by a MarkdownTextStorage,
// edited through a Typewriter and saved by the window's Warehouse, which it tells of every change
// and answers about the text to save. It applies the type size, typeface and theme from Core, sets
// the text margins from its width, finds text, jumps to lines, and keeps the caret and scroll
// position. A note whose text could not be read is shown read-only with the reason above it; so is
// one whose bytes were not all valid UTF-8, until the user makes it editable. A failed save is told
// in a strip above the text, which takes no keys, until the disk takes the note or the user dismisses
// it. While a note's text loads the view takes no edits, and it hands the Warehouse text only for the
// note it shows. Handles the type-size commands and "performFindPanelAction:". Notes are shown once
// it has its Warehouse. Main thread.
class NoteViewController : public ViewController,
                           public WarehouseEditingDelegate,
                           private TextViewDelegate,
                           private NoteTextViewDelegate,
                           private TypewriterDelegate {
public:
    using Completion = std::function<void()>;
    // Opens a link outside the application; true when it did.
    using LinkOpener = std::function<bool(const QUrl&)>;

    explicit NoteViewController(QObject* parent = nullptr);
    ~NoteViewController() override;

    void setWarehouse(std::shared_ptr<Warehouse> warehouse) { warehouse_ = std::move(warehouse); }
    const std::shared_ptr<Warehouse>& warehouse() const { return warehouse_; }
    // Not owned.
    void setDelegate(NoteViewControllerDelegate* delegate) { delegate_ = delegate; }
    // For the Warehouse: this controller while it lives, then nobody.
    std::shared_ptr<WarehouseEditingDelegate> editingDelegate() const { return forwarder_; }
    // The default opens through the desktop.
    void setLinkOpener(LinkOpener opener) { openLink_ = std::move(opener); }

    NoteTextView* textView();
    Typewriter& typewriter();
    MarkdownTextStorage& textStorage() { return textStorage_; }

    // --- Type size, typeface, theme, margins
    // The preset's size plus the offset minus 4, and never below 8 points.
    static double fontSizeForSizePreset(SizePreset preset, int64_t offset);
    // The side margin for a view of the width whose font is `ratio` times as wide as the default one.
    static double textInsetForWidth(double width, double ratio);
    bool canHaveSmallerTypeSizeOffset() const;
    bool canHaveLargerTypeSizeOffset() const { return true; }
    void useDefaultTypeSizeOffset();
    void useSmallerTypeSizeOffset();
    void useLargerTypeSizeOffset();
    // Keeps the same text in view.
    void reloadTypeSize();
    void reloadTypeFace();
    void reloadTheme();
    void reloadTextContainerInset();

    // --- Notes
    // Null starts a new note. The note being edited already only runs the completion.
    void showNote(const NotePtr& note, Completion completion = {});
    void newNoteDidTapFromMenu();
    void restoreInsertionPoint();
    void restoreNoteInsertionPoint(const NotePtr& note);
    void restoreScrollPosition();
    void restoreNoteScrollPosition(const NotePtr& note);
    void scrollToTop();
    // From 1; past the last line, the end of the text.
    void goToLine(qsizetype line);
    QString selectedText();
    // Puts the caret after the first match and marks it; false, hiding the mark, without one (or
    // with one only in the first line when it is excluded).
    bool showFindIndicator(const QString& query, bool excludeFirstLine = false);
    FindBar* findBar() const { return findBar_; }
    void applicationWillTerminateUsingBlock(Completion block);
    // Saves what is pending; with notes that still could not be saved, asks whether to quit,
    // naming them. Runs proceed when the application may quit.
    void applicationShouldTerminate(Completion proceed);
    // Why the open note is read-only; empty while it can be edited.
    QString readOnlyReason() const { return readOnlyReason_; }
    // Lifts the read-only state of a note whose bytes were not all read as they are.
    void makeEditable();
    // The text of the note being edited; null while it loads.
    QString editingText();
    // Its first `length` units, read without taking all of it.
    QString editingText(qsizetype length);

    bool validateMenuItem(MenuItem& item) override;

    // --- WarehouseEditingDelegate
    bool warehouseReloadScrollPositionForNote(Warehouse& warehouse, const NotePtr& note) override;
    bool warehouseReloadTextForNote(Warehouse& warehouse, const NotePtr& note) override;
    bool warehouseShouldAutoSaveEditingNote(Warehouse& warehouse, const NotePtr& note) override;
    bool warehouseUserIsEditingNote(Warehouse&, const NotePtr&) override { return false; }
    void warehouseRemoteServerDidUpdateEditingNote(Warehouse& warehouse, const NotePtr& note,
                                                   const QString& text) override;
    void warehouseRemoteServerDidDeleteEditingNote(Warehouse&, const NotePtr&) override {}
    void warehouseEditingNote(Warehouse&, const NotePtr&, int64_t) override {}
    void warehouseDidFailToSaveNote(Warehouse& warehouse, const NotePtr& note) override;
    void warehouseDidSaveUnsavedNotes(Warehouse& warehouse) override;
    // What the strip above the text tells of failed saves; empty while it is hidden.
    QString saveFailureMessage() const;

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;
    void viewDidLayout() override;

private:
    bool showsEditingNote() const;
    // TextViewDelegate
    bool textViewShouldChangeTextInRanges(TextView& view, const QList<TextRange>& ranges,
                                          const QStringList& replacementStrings) override;
    // NoteTextViewDelegate
    void noteTextViewDidBecomeFirstResponder(NoteTextView& view) override;
    void noteTextViewDidResignFirstResponder(NoteTextView& view) override;
    bool noteTextViewDidKeyDown(NoteTextView& view, const QKeyEvent& event) override;
    void noteTextViewDidTypewriterAction(NoteTextView& view, TypewriterAction action) override;
    bool noteTextViewReadSelectionFromPasteboard(NoteTextView& view, const QMimeData& data) override;
    void noteTextViewClickedOnLink(NoteTextView& view, const QString& link, qsizetype index) override;
    void noteTextViewDidUndo(NoteTextView& view, qsizetype count) override;
    // TypewriterDelegate
    bool typewriterHandleTapEmail(Typewriter& typewriter, const QString& address) override;
    bool typewriterHandleTapLink(Typewriter& typewriter, const QString& link) override;
    void typewriterDidTapToCompletedCheckbox(Typewriter& typewriter, TextRange mark) override;
    void typewriterDidTapToUncompletedCheckbox(Typewriter& typewriter, TextRange mark) override;

    void addEditingChanges(int64_t count);
    // The first and the number of characters in view, and the caret.
    void snapshotScrollPosition(Note& note);
    void setTypeSizeOffset(int64_t offset);
    // Another program's text for the note shown.
    void replaceTextInPlace(const QString& text);
    void reloadTextStorage();
    void reloadThemeColors();
    void showStoredNote(const NotePtr& note, Completion completion);
    void showNewNote(Completion completion);
    // The text of a note just opened, with the reason it could not be read (empty when it could) and
    // the reason it is read-only until the user says otherwise.
    void openText(const NotePtr& note, const QString& text, const QString& readFailure, const QString& caution);
    void showReadOnlyBar(const QString& reason, bool editable);
    void dismissSaveFailure();
    void setCheckboxCompleted(bool completed, TextRange mark);
    // http(s), mailto and our own scheme open at once, others after asking; text that is no URL opens
    // nothing.
    void openLink(const QString& link);

    std::shared_ptr<Warehouse> warehouse_;
    std::shared_ptr<WarehouseEditingDelegate> forwarder_;
    NoteViewControllerDelegate* delegate_ = nullptr;
    LinkOpener openLink_;
    MarkdownTextStorage textStorage_;
    std::unique_ptr<Typewriter> typewriter_;
    NoteTextView* textView_ = nullptr; // child of view()
    Banner* saveFailureBar_ = nullptr;
    Banner* readOnlyBar_ = nullptr;
    QLabel* shadowView_ = nullptr;
    FindBar* findBar_ = nullptr;
    QString readOnlyReason_;
    // The notes named by the save-failure strip since it was last hidden.
    QStringList unsavedLabels_;
    // The note whose text the view holds; null while one loads.
    NotePtr shownNote_;
    // It was begun in this window rather than read from a file.
    bool shownNew_ = false;
};
