#include "shell/MainMenu.h"

#include "kit/MenuItem.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenuBar>

#include <vector>

namespace {

struct Command {
    const char* title; // null: a separator
    const char* selector;
    QKeySequence shortcut;
};

struct Menu {
    const char* title;
    std::vector<Command> commands;
};

Command separator()
{
    return {nullptr, nullptr, {}};
}

QKeySequence ctrl(int key, int more = 0)
{
    return QKeySequence(int(Qt::CTRL) | more | key);
}

// Ctrl+S stays with the editor, which saves on it.
std::vector<Menu> menus()
{
    return {
        {QT_TRANSLATE_NOOP("MainMenu", "&Brindlewick"),
         {{QT_TRANSLATE_NOOP("MainMenu", "Sync…"), "showSyncSettings:", {}}}},
        {QT_TRANSLATE_NOOP("MainMenu", "&File"),
         {{QT_TRANSLATE_NOOP("MainMenu", "New Note"), "newDocument:", ctrl(Qt::Key_N)},
          {QT_TRANSLATE_NOOP("MainMenu", "Open Quickly…"), "openQuickly:", ctrl(Qt::Key_O)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Archive Note"), "archiveNote:", ctrl(Qt::Key_A, Qt::ALT)},
          {QT_TRANSLATE_NOOP("MainMenu", "Restore Note to Inbox"), "restoreNoteToInbox:", ctrl(Qt::Key_R, Qt::ALT)},
          {QT_TRANSLATE_NOOP("MainMenu", "Delete Note…"), "deleteNote:", ctrl(Qt::Key_Backspace)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Export…"), "exportNote:", ctrl(Qt::Key_E, Qt::SHIFT)},
          {QT_TRANSLATE_NOOP("MainMenu", "Share"), "shareNote:", {}},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Print…"), "printNote:", ctrl(Qt::Key_P)},
          {QT_TRANSLATE_NOOP("MainMenu", "Print Formatted…"), "printFormattedNote:", ctrl(Qt::Key_P, Qt::SHIFT)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Quit"), "terminate:", ctrl(Qt::Key_Q)}}},
        {QT_TRANSLATE_NOOP("MainMenu", "&Edit"),
         {{QT_TRANSLATE_NOOP("MainMenu", "Undo"), "undo:", ctrl(Qt::Key_Z)},
          {QT_TRANSLATE_NOOP("MainMenu", "Redo"), "redo:", ctrl(Qt::Key_Z, Qt::SHIFT)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Cut"), "cut:", ctrl(Qt::Key_X)},
          {QT_TRANSLATE_NOOP("MainMenu", "Copy"), "copy:", ctrl(Qt::Key_C)},
          {QT_TRANSLATE_NOOP("MainMenu", "Paste"), "paste:", ctrl(Qt::Key_V)},
          {QT_TRANSLATE_NOOP("MainMenu", "Select All"), "selectAll:", ctrl(Qt::Key_A)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Copy as HTML"), "copyNoteHTML:", ctrl(Qt::Key_C, Qt::ALT)},
          {QT_TRANSLATE_NOOP("MainMenu", "Copy as Formatted Text"), "copyNoteFormattedText:", ctrl(Qt::Key_C, Qt::SHIFT | Qt::ALT)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Find in Note"), "performFindPanelAction:", ctrl(Qt::Key_F, Qt::SHIFT)},
          {QT_TRANSLATE_NOOP("MainMenu", "Search Notes"), "search:", ctrl(Qt::Key_F, Qt::ALT)}}},
        {QT_TRANSLATE_NOOP("MainMenu", "F&ormat"),
         {{QT_TRANSLATE_NOOP("MainMenu", "Heading 1"), "makeHeading1:", ctrl(Qt::Key_1)},
          {QT_TRANSLATE_NOOP("MainMenu", "Heading 2"), "makeHeading2:", ctrl(Qt::Key_2)},
          {QT_TRANSLATE_NOOP("MainMenu", "Heading 3"), "makeHeading3:", ctrl(Qt::Key_3)},
          {QT_TRANSLATE_NOOP("MainMenu", "Heading 4"), "makeHeading4:", ctrl(Qt::Key_4)},
          {QT_TRANSLATE_NOOP("MainMenu", "Heading 5"), "makeHeading5:", ctrl(Qt::Key_5)},
          {QT_TRANSLATE_NOOP("MainMenu", "Heading 6"), "makeHeading6:", ctrl(Qt::Key_6)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Bold"), "makeBold:", ctrl(Qt::Key_B)},
          {QT_TRANSLATE_NOOP("MainMenu", "Italic"), "makeItalic:", ctrl(Qt::Key_I)},
          {QT_TRANSLATE_NOOP("MainMenu", "Strikethrough"), "makeStrikethrough:", ctrl(Qt::Key_D, Qt::SHIFT)},
          {QT_TRANSLATE_NOOP("MainMenu", "Code"), "makeCode:", ctrl(Qt::Key_K, Qt::SHIFT)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Bulleted List"), "makeUnorderedList:", ctrl(Qt::Key_L)},
          {QT_TRANSLATE_NOOP("MainMenu", "Numbered List"), "makeOrderedList:", ctrl(Qt::Key_L, Qt::ALT)},
          {QT_TRANSLATE_NOOP("MainMenu", "To-Do List"), "makeTodoList:", ctrl(Qt::Key_T, Qt::SHIFT)},
          {QT_TRANSLATE_NOOP("MainMenu", "Complete To-Do"), "makeTodoListComplete:", ctrl(Qt::Key_Return)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Add Link"), "makeAddLink:", ctrl(Qt::Key_K)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Shift Left"), "makeShiftLeft:", ctrl(Qt::Key_BracketLeft)},
          {QT_TRANSLATE_NOOP("MainMenu", "Shift Right"), "makeShiftRight:", ctrl(Qt::Key_BracketRight)},
          {QT_TRANSLATE_NOOP("MainMenu", "Move Line Up"), "makeMoveLineUp:", ctrl(Qt::Key_Up, Qt::ALT)},
          {QT_TRANSLATE_NOOP("MainMenu", "Move Line Down"), "makeMoveLineDown:", ctrl(Qt::Key_Down, Qt::ALT)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Clear Formatting"), "makeClearFormatting:", ctrl(Qt::Key_Backslash)}}},
        {QT_TRANSLATE_NOOP("MainMenu", "&View"),
         {{QT_TRANSLATE_NOOP("MainMenu", "Hide Sidebar"), "toggleSidebarShown:", ctrl(Qt::Key_S, Qt::ALT)},
          {QT_TRANSLATE_NOOP("MainMenu", "Hide Toolbar"), "toggleToolbarShown:", ctrl(Qt::Key_T, Qt::ALT)},
          {QT_TRANSLATE_NOOP("MainMenu", "Enter Full Screen"), "toggleFullScreen:", QKeySequence(Qt::Key_F11)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Sort by Date Updated"), "sortNoteByUpdatedOn:", {}},
          {QT_TRANSLATE_NOOP("MainMenu", "Sort by Date Created"), "sortNoteByCreatedOn:", {}},
          {QT_TRANSLATE_NOOP("MainMenu", "Sort by Title"), "sortNoteByTitle:", {}},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Bigger"), "useLargerTypeSizeOffset:", ctrl(Qt::Key_Equal)},
          {QT_TRANSLATE_NOOP("MainMenu", "Smaller"), "useSmallerTypeSizeOffset:", ctrl(Qt::Key_Minus)},
          {QT_TRANSLATE_NOOP("MainMenu", "Actual Size"), "useDefaultTypeSizeOffset:", ctrl(Qt::Key_0)},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Theme Options…"), "showThemeOptions:", ctrl(Qt::Key_T, Qt::ALT | Qt::SHIFT)}}},
        {QT_TRANSLATE_NOOP("MainMenu", "&Help"),
         {{QT_TRANSLATE_NOOP("MainMenu", "Guide"), "showGuide:", {}},
          {QT_TRANSLATE_NOOP("MainMenu", "Markdown Syntax"), "showSyntax:", {}},
          {QT_TRANSLATE_NOOP("MainMenu", "Keyboard Shortcuts"), "showKeyboardShortcuts:", {}},
          {QT_TRANSLATE_NOOP("MainMenu", "Importing and Exporting Notes"), "showImportExportNotes:", {}},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Website"), "showWebsite:", {}},
          {QT_TRANSLATE_NOOP("MainMenu", "Follow Us"), "showSocialNetwork:", {}},
          {QT_TRANSLATE_NOOP("MainMenu", "Desktop Edition in the Store"), "showMacAppStore:", {}},
          {QT_TRANSLATE_NOOP("MainMenu", "Phone Edition in the Store"), "showiPhoneAppStore:", {}},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Send Us a Message"), "showSendUsAMessage:", {}},
          {QT_TRANSLATE_NOOP("MainMenu", "Report a Bug"), "showReportABug:", {}},
          separator(),
          {QT_TRANSLATE_NOOP("MainMenu", "Acknowledgements"), "showAcknowledgement:", {}}}},
    };
}

// Escape closes a menu and gives the keys back to the widget that had them: left to itself the bar
// would keep the focus for keyboard navigation, and typing and the Edit commands would go nowhere.
class EscapeReturnsFocus : public QObject {
public:
    explicit EscapeReturnsFocus(QMenuBar* bar) : QObject(bar), bar_(bar) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape)
            return false;
        static_cast<QMenu*>(watched)->hide();
        // Opened from the keyboard, the bar holds the focus itself: its own Escape hands it back.
        if (bar_->window()->focusWidget() == bar_) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(bar_, &escape);
        }
        return true;
    }

private:
    QMenuBar* bar_;
};

} // namespace

namespace MainMenu {

QMenu* install(QMainWindow& window)
{
    QMenuBar* bar = window.menuBar();
    QList<QAction*> items;
    auto* escape = new EscapeReturnsFocus(bar);
    for (const Menu& entry : menus()) {
        QMenu* menu = bar->addMenu(QCoreApplication::translate("MainMenu", entry.title));
        menu->installEventFilter(escape);
        MenuItem::validateOnShow(menu);
        for (const Command& command : entry.commands) {
            if (!command.title) {
                menu->addSeparator();
                continue;
            }
            auto* item = new MenuItem(QCoreApplication::translate("MainMenu", command.title), Selector(command.selector), menu);
            item->setWindow(&window);
            item->setShortcut(command.shortcut);
            menu->addAction(item);
            items.append(item);
        }
    }
    QObject::connect(qApp, &QApplication::focusChanged, bar, [items] { MenuItem::validateAll(items); });
    MenuItem::validateAll(items);
    MenuItem* share = MenuItem::find(bar, Selector("shareNote:"));
    auto* shareMenu = new QMenu(bar);
    MenuItem::validateOnShow(shareMenu);
    share->setMenu(shareMenu);
    return shareMenu;
}

} // namespace MainMenu
