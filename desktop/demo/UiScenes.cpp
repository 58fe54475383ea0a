#include "UiScenes.h"

#include "SteppedAnimationClock.h"

#include "kit/AnimationContext.h"
#include "kit/Popover.h"
#include "kit/QtColor.h"
#include "kit/ViewController.h"
#include "panes/FindBar.h"
#include "panes/FolderViewController.h"
#include "panes/ListViewController.h"
#include "panes/NoteViewController.h"
#include "panes/QuickOpenViewController.h"
#include "panes/SearchFieldWrapper.h"
#include "shell/IntroViewController.h"
#include "shell/PushSegue.h"
#include "shell/RootViewController.h"
#include "shell/RootWindow.h"
#include "shell/SyncDialog.h"

#include "Cloud/FolderAppleCloud.h"
#include "Cloud/StoreCKCloud.h"

#include "Core.h"
#include "Dispatch.h"
#include "Themes/Themeset.h"
#include "UserDefaults.h"
#include "files/FileDates.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <functional>
#include <map>
#include <optional>

namespace {

std::unique_ptr<QWidget> shown(std::unique_ptr<QWidget> widget, QSize size)
{
    widget->resize(size);
    widget->show();
    QApplication::processEvents();
    return widget;
}

std::unique_ptr<QWidget> rootWindow(ThemeID theme)
{
    auto window = std::make_unique<RootWindow>();
    window->setWindowTitle(QStringLiteral("Brindlewick"));
    window->applyTheme(theme, false);
    return shown(std::move(window), {900, 560});
}

// A page of the push scene: a coloured card with a caption.
class Page : public ViewController {
public:
    Page(QString caption, Color color) : caption_(std::move(caption)), color_(color) {}

protected:
    QWidget* loadView() override
    {
        auto* view = new QLabel(caption_);
        view->setAlignment(Qt::AlignCenter);
        view->setAutoFillBackground(true);
        QPalette palette = view->palette();
        palette.setColor(QPalette::Window, toQColor(color_));
        palette.setColor(QPalette::WindowText, toQColor(Themeset::textColorForTheme(0)));
        view->setPalette(palette);
        return view;
    }

private:
    QString caption_;
    Color color_;
};

// One moment of a push inside a 240-wide pane: the first page, the second coming in over it.
QPixmap pushAt(qint64 ms)
{
    SteppedAnimationClock clock;
    QWidget pane;
    pane.resize(240, 320);
    auto* first = new Page(QStringLiteral("First page"), Themeset::menuBackgroundColorForTheme(0));
    first->setParent(&pane);
    first->view()->setParent(&pane);
    first->view()->setGeometry(pane.rect());
    pane.show();
    PushSegue(*first, new Page(QStringLiteral("Pushed page"), Themeset::selectionBackgroundColorForTheme(0))).perform();
    clock.step(0);
    clock.step(ms);
    return pane.grab();
}

// The push at its start, halfway and at its end, side by side.
std::unique_ptr<QWidget> push()
{
    auto strip = std::make_unique<QWidget>();
    auto* row = new QHBoxLayout(strip.get());
    AnimationContext::setTestMode(false);
    const int duration = int(AnimationContext::DefaultDuration * 1000);
    for (const int ms : {0, duration / 2, duration}) {
        auto* frame = new QLabel;
        frame->setPixmap(pushAt(ms));
        row->addWidget(frame);
    }
    AnimationContext::setTestMode(true);
    DispatchQueue::drainMain();
    return shown(std::move(strip), {780, 340});
}

std::unique_ptr<QWidget> intro()
{
    auto window = std::make_unique<QWidget>();
    auto* controller = new IntroViewController(window.get());
    (new QVBoxLayout(window.get()))->addWidget(controller->view());
    window->layout()->setContentsMargins(0, 0, 0, 0);
    return shown(std::move(window), {480, 300});
}

// The shared Core in the theme. Run alone, the scenes keep the store in a folder of their own; run by a
// test, they use the test's.
Core& sceneCore(ThemeID theme)
{
    static QTemporaryDir home;
    static UserDefaults defaults(home.path() + QStringLiteral("/defaults.ini"));
    Core::Configuration configuration;
    configuration.documentDirectory = home.path() + QStringLiteral("/Documents");
    configuration.cachesDirectory = home.path() + QStringLiteral("/Caches");
    configuration.defaults = &defaults;
    Core::configure(configuration);
    Core& core = Core::shared();
    core.setColorTheme(theme);
    return core;
}

// The Sync dialog over a folder and settings of its own; its record store is never opened.
std::unique_ptr<QWidget> syncDialog()
{
    static QTemporaryDir home;
    static UserDefaults defaults(home.path() + QStringLiteral("/sync-defaults.ini"));
    StoreCKCloud::Configuration store;
    store.defaults = &defaults;
    auto cloud = std::make_shared<FolderAppleCloud>(std::make_shared<StoreCKCloud>(store), defaults);
    QDir().mkpath(home.path() + QStringLiteral("/Sync"));
    cloud->container().chooseFolder(home.path() + QStringLiteral("/Sync"));
    return shown(std::make_unique<SyncDialog>(cloud, sceneCore(0), defaults), {560, 330});
}

void makeTagFolder(int kind, const QString& name, const QByteArray& spelling = {})
{
    const QString folder = Note::linkDirectoryForTag(kind) + QLatin1Char('/') + name;
    QDir().mkpath(folder);
    QFile meta(folder + QStringLiteral("/.meta"));
    if (!spelling.isEmpty() && meta.open(QIODevice::WriteOnly))
        meta.write(spelling);
}

// The sidebar with three hashtags and a mention, "#plan" selected.
std::unique_ptr<QWidget> sidebar(ThemeID theme)
{
    Core& core = sceneCore(theme);
    makeTagFolder(NoteTagHashtag, QStringLiteral("idea"));
    makeTagFolder(NoteTagHashtag, QStringLiteral("plan"));
    makeTagFolder(NoteTagHashtag, QStringLiteral("todo"), "ToDo");
    makeTagFolder(NoteTagMention, QStringLiteral("ann"));
    auto window = std::make_unique<QWidget>();
    auto* controller = new FolderViewController(core, window.get());
    (new QVBoxLayout(window.get()))->addWidget(controller->view());
    window->layout()->setContentsMargins(0, 0, 0, 0);
    bool loaded = false;
    controller->selectStorage(NoteTagHashtag, QStringLiteral("plan"), [&](bool) { loaded = true; });
    DispatchQueue::runMainUntil([&] { return loaded; }, 10);
    auto scene = shown(std::move(window), {220, 480});
    controller->tableView()->setFocus();
    return scene;
}

const char* const SampleNote = R"(# Harbour walk

A short note on the *Saturday* walk, with a few **bold** plans and a link to https://example.org/map.

## To do
- [x] Pack the thermos
- [ ] Check the tide table
- [ ] Ask @sam about the ferry

> The light is best just after nine.

1. Old lighthouse
2. Fish market
3. `North pier`

#walks #weekend
)";

// The editor in the main window showing a sample note.
std::unique_ptr<QWidget> editor(ThemeID theme)
{
    Core& core = sceneCore(theme);
    core.setTypeFace(0);
    core.setTypeSizeOffset(0);

    const QString key = QStringLiteral("Harbour walk.txt");
    Note::createImmediateDirectoryForFilePath(Note::documentFileForKey(key, NoteStorageInbox));
    QFile file(Note::documentFileForKey(key, NoteStorageInbox));
    if (file.open(QIODevice::WriteOnly))
        file.write(SampleNote);
    file.close();

    auto window = std::make_unique<RootWindow>();
    window->setWindowTitle(QStringLiteral("Brindlewick"));
    window->applyTheme(theme, false);
    auto* controller = new NoteViewController;
    window->setContentViewController(controller);
    auto warehouse = Warehouse::create();
    controller->setWarehouse(warehouse);
    warehouse->setEditingDelegate(controller->editingDelegate());
    controller->showNote(std::make_shared<Note>(key, NoteStorageInbox));
    Dispatch::waitUntilIdle();
    return shown(std::move(window), {900, 560});
}

// Saves and indexes inbox notes, so that searches find them.
template <size_t N>
void commitNotes(const std::pair<const char*, const char*> (&notes)[N], int storage = NoteStorageInbox)
{
    for (const auto& [key, text] : notes) {
        auto note = std::make_shared<Note>(QString::fromUtf8(key), storage);
        note->setText(QString::fromUtf8(text));
        bool done = false;
        note->_commitAndCloseLocalNote([&](bool) { done = true; });
        DispatchQueue::runMainUntil([&] { return done; }, 10);
    }
}

// The note list of a storage or tag; with a drag, the second row dragged that far (and let go when open).
std::unique_ptr<QWidget> noteList(int storage, const QString& tag, std::optional<double> drag, bool release)
{
    Core& core = sceneCore(0);
    core.setNoteSortOptions(0);
    const std::pair<const char*, const char*> notes[] = {
        {"Harbour walk.txt", SampleNote},
        {"Groceries.txt", "Groceries\n- bread\n- tea\n- apples"},
        {"Reading list.txt", "Reading list\nThe novels to take on the train this month."},
    };
    int64_t updated = 1'700'000'000;
    for (const auto& [key, text] : notes) {
        const QString path = Note::documentFileForKey(QString::fromUtf8(key), NoteStorageInbox);
        Note::createImmediateDirectoryForFilePath(path);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
        file.close();
        FileDates::setModificationDate(path, updated--);
    }
    auto window = std::make_unique<QWidget>();
    auto* controller = new ListViewController(core, window.get());
    controller->view()->setObjectName(QStringLiteral("list"));
    (new QVBoxLayout(window.get()))->addWidget(controller->view());
    window->layout()->setContentsMargins(0, 0, 0, 0);
    auto scene = shown(std::move(window), {320, 480});
    bool loaded = false;
    controller->selectStorage(storage, tag, [&](bool) { loaded = true; });
    DispatchQueue::runMainUntil([&] { return loaded; }, 10);
    controller->selectNote(nullptr);
    controller->tableView()->setFocus();
    Dispatch::waitUntilIdle();
    if (auto* cell = dynamic_cast<ListEntryCell*>(controller->tableBridge()->rowView(1, ListViewController::Notes, true));
        cell && drag) {
        cell->containerPanDidStart();
        cell->containerPanDidMove(*drag);
        if (release)
            cell->containerPanDidEnd();
    }
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    return scene;
}

// Centres the panel over the window's right part, as over the editor.
struct QuickOpenHost : QuickOpenViewControllerDelegate {
    QWidget* container = nullptr;
    void quickOpenWantDismiss(QuickOpenViewController&) override {}
    void quickOpenDidSelectNote(QuickOpenViewController&, const NotePtr&) override {}
    void quickOpenDidSelectStorage(QuickOpenViewController&, int, const QString&) override {}
    void quickOpenDidEnterCommand(QuickOpenViewController&, const QString&) override {}
    QWidget* containerViewForQuickOpen(QuickOpenViewController&) override { return container; }
};

// Searches for the panel's query and waits until the results show, the first one selected.
void showResults(QuickOpenViewController& panel)
{
    panel.reloadList([&panel](bool) { panel.selectNote(nullptr); });
    DispatchQueue::runMainUntil([&] { return panel.state() == QuickOpenViewController::Shown; }, 10);
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
}

// The quick-open panel over an editor area, showing the results of the query.
std::unique_ptr<QWidget> quickOpen(const QString& query)
{
    Core& core = sceneCore(0);
    const std::pair<const char*, const char*> notes[] = {
        {"Plan for spring.txt", "Plan for spring\nSeeds to order before March. #plan #garden"},
        {"Planet notes.txt", "Planet notes\nThe outer planets in the evening sky. #planets"},
        {"Harbour walk.txt", "Harbour walk\nBoats, gulls and the old lighthouse on the pier."},
        {"Pier repairs.txt", "Pier repairs\nThe pier reopens after the winter storms. #plan"},
    };
    commitNotes(notes);
    auto window = std::make_unique<QWidget>();
    window->setAutoFillBackground(true);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, toQColor(Themeset::backgroundColorForTheme(0)));
    window->setPalette(palette);
    auto* editor = new QWidget(window.get());
    editor->setGeometry(300, 0, 600, 560);
    static QuickOpenHost host;
    host.container = editor;
    auto* panel = new QuickOpenViewController(core, window.get());
    panel->view()->setParent(window.get());
    panel->setDelegate(&host);
    auto scene = shown(std::move(window), {900, 560});
    panel->view()->show();
    panel->showQuickOpen(query);
    showResults(*panel);
    return scene;
}

// The main window with its remembered state cleared, on the three notes of the main scene.
std::unique_ptr<RootWindow> freshMainWindow(ThemeID theme)
{
    Core& core = sceneCore(theme);
    core.setTypeFace(0);
    core.setTypeSizeOffset(0);
    const std::pair<const char*, const char*> notes[] = {
        {"Harbour walk.txt", SampleNote},
        {"Groceries.txt", "Groceries\n- bread\n- tea\n- apples #weekend"},
        {"Reading list.txt", "Reading list\nThe novels to take on the train this month."},
    };
    commitNotes(notes);
    UserDefaults& defaults = UserDefaults::standard();
    for (const char* key : {"sidebarHidden", "toolbarHidden", "folderWidth", "listWidth", "selectedStorage", "selectedTag"})
        defaults.removeObject(QString::fromLatin1(key));
    defaults.setString(QStringLiteral("Harbour walk.txt"), QStringLiteral("selectedNoteKey"));
    defaults.setInteger(NoteStorageInbox, QStringLiteral("selectedNoteStorage"));
    auto window = std::make_unique<RootWindow>();
    window->setWindowTitle(QStringLiteral("Brindlewick"));
    window->setContentViewController(new RootViewController(core));
    return window;
}

// The screen with the main window against its right edge and the theme popover open: the popover
// keeps inside the window, next to its button.
std::unique_ptr<QWidget> themePopoverAtScreenEdge()
{
    std::unique_ptr<RootWindow> window = freshMainWindow(0);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    window->resize(std::min(screen.width() - 120, 700), std::min(screen.height() - 60, 480));
    window->move(screen.right() + 1 - window->width(), screen.top() + 30);
    window->show();
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    auto* root = static_cast<RootViewController*>(window->contentViewController());
    root->showThemeOptions();
    QApplication::processEvents();
    QPixmap shot(screen.size());
    shot.fill(QColor(0x5a, 0x61, 0x6b));
    QPainter painter(&shot);
    painter.drawPixmap(window->geometry().topLeft() - screen.topLeft(), window->grab());
    if (Popover* popover = root->popOverController()) {
        painter.drawPixmap(popover->geometry().topLeft() - screen.topLeft(), popover->grab());
        popover->close();
    }
    painter.end();
    auto picture = std::make_unique<QLabel>();
    picture->setPixmap(shot);
    return shown(std::move(picture), screen.size());
}

// Quick open in a window 328 high: ten hits make the panel higher than the content below the toolbar,
// so its top stays at the content's top. The hits are archived notes, which leave the other scenes'
// lists as they are.
std::unique_ptr<QWidget> quickOpenInALowWindow()
{
    std::unique_ptr<RootWindow> window = freshMainWindow(0);
    for (int i = 1; i <= 10; ++i) {
        const QByteArray title = "Shore walk " + QByteArray::number(i);
        const QByteArray key = title + ".txt";
        const QByteArray text = title + "\nAlong the shore at low tide, stop " + QByteArray::number(i) + ".";
        const std::pair<const char*, const char*> note[] = {{key.constData(), text.constData()}};
        commitNotes(note, NoteStorageArchive);
    }
    auto* root = static_cast<RootViewController*>(window->contentViewController());
    auto scene = shown(std::move(window), {900, 328});
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    root->showOpenQuickly(QStringLiteral("shore"));
    showResults(*root->quickOpenController());
    return scene;
}

// The whole main window: the sidebar with a tag, the list of three notes and the first one open.
std::unique_ptr<QWidget> mainWindow(ThemeID theme)
{
    auto scene = shown(freshMainWindow(theme), {1100, 680});
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    return scene;
}

// The main window after a step taken in it, once its queues are idle.
std::unique_ptr<QWidget> mainWindowAfter(ThemeID theme, const std::function<void(RootViewController&)>& step)
{
    std::unique_ptr<QWidget> scene = mainWindow(theme);
    step(*static_cast<RootViewController*>(static_cast<RootWindow*>(scene.get())->contentViewController()));
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    return scene;
}

void showQuickOpen(RootViewController& root)
{
    root.showOpenQuickly(QStringLiteral("walk"));
    QuickOpenViewController* panel = root.quickOpenController();
    bool loaded = false;
    panel->reloadList([panel, &loaded](bool) {
        panel->selectNote(nullptr);
        loaded = true;
    });
    DispatchQueue::runMainUntil([&] { return loaded; }, 10);
}

void showFindBar(RootViewController& root)
{
    NoteViewController* editor = root.noteController();
    editor->tryToPerform(Selector("performFindPanelAction:"), nullptr);
    editor->findBar()->field()->setText(QStringLiteral("walk"));
    editor->findBar()->find(0, false);
}

// Every control of the window at once: the archive, long enough for the list to scroll, with a note of
// stray bytes open read-only, a failed save told above it and the find bar open. Archived notes leave
// the other scenes' lists as they are.
std::unique_ptr<QWidget> controls(ThemeID theme)
{
    std::unique_ptr<RootWindow> window = freshMainWindow(theme);
    for (int i = 1; i <= 12; ++i) {
        const QByteArray key = "Shelf " + QByteArray::number(i) + ".txt";
        const QByteArray text = "Shelf " + QByteArray::number(i) + "\nBooks and boxes on shelf " + QByteArray::number(i) + ".";
        const std::pair<const char*, const char*> note[] = {{key.constData(), text.constData()}};
        commitNotes(note, NoteStorageArchive);
    }
    const QString stray = QStringLiteral("Stray bytes.txt");
    QFile file(Note::documentFileForKey(stray, NoteStorageArchive));
    if (file.open(QIODevice::WriteOnly))
        file.write("Stray bytes\nA caf\xC3\xA9 menu with one \xFF byte that is not UTF-8.");
    file.close();
    auto* root = static_cast<RootViewController*>(window->contentViewController());
    auto scene = shown(std::move(window), {1100, 520});
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    root->selectStorage(NoteStorageArchive, QString());
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    NoteViewController* editor = root->noteController();
    const auto note = std::make_shared<Note>(stray, NoteStorageArchive);
    editor->showNote(note);
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    const auto unsaved = std::make_shared<Note>();
    unsaved->setText(QStringLiteral("Groceries\n- bread"));
    editor->warehouseDidFailToSaveNote(*editor->warehouse(), unsaved);
    showFindBar(*root);
    Dispatch::waitUntilIdle();
    QApplication::processEvents();
    return scene;
}

// The delete confirmation over the main window, both drawn into one picture.
std::unique_ptr<QWidget> deleteAlert(ThemeID theme)
{
    std::unique_ptr<QWidget> window = mainWindow(theme);
    auto* root = static_cast<RootViewController*>(static_cast<RootWindow*>(window.get())->contentViewController());
    root->listController()->tableView()->setFocus();
    root->deleteNote();
    QMessageBox* box = nullptr;
    DispatchQueue::runMainUntil([&] { return (box = window->findChild<QMessageBox*>()) && box->isVisible(); }, 10);
    QApplication::processEvents();
    QPixmap shot = window->grab();
    if (box) {
        QPainter painter(&shot);
        painter.drawPixmap(box->geometry().topLeft() - window->geometry().topLeft(), box->grab());
        painter.end();
        box->reject();
    }
    auto picture = std::make_unique<QLabel>();
    picture->setPixmap(shot);
    return shown(std::move(picture), shot.size());
}

const std::map<QString, std::function<std::unique_ptr<QWidget>()>>& scenes()
{
    static const std::map<QString, std::function<std::unique_ptr<QWidget>()>> all = {
        {QStringLiteral("window-white"), [] { return rootWindow(0); }},
        {QStringLiteral("window-charcoal"), [] { return rootWindow(2); }},
        {QStringLiteral("intro"), intro},
        {QStringLiteral("main-white"), [] { return mainWindow(0); }},
        {QStringLiteral("main-sepia"), [] { return mainWindow(1); }},
        {QStringLiteral("main-charcoal"), [] { return mainWindow(2); }},
        {QStringLiteral("main-night"), [] { return mainWindow(3); }},
        {QStringLiteral("main-whitebanana"), [] { return mainWindow(4); }},
        {QStringLiteral("main-whiterose"), [] { return mainWindow(9); }},
        {QStringLiteral("main-nightmatcha"), [] { return mainWindow(16); }},
        {QStringLiteral("main-nightcobalt"), [] { return mainWindow(18); }},
        {QStringLiteral("main-charcoal-quickopen"), [] { return mainWindowAfter(2, showQuickOpen); }},
        {QStringLiteral("main-charcoal-findbar"), [] { return mainWindowAfter(2, showFindBar); }},
        {QStringLiteral("push"), push},
        {QStringLiteral("controls-white"), [] { return controls(0); }},
        {QStringLiteral("controls-sepia"), [] { return controls(1); }},
        {QStringLiteral("controls-whitebanana"), [] { return controls(4); }},
        {QStringLiteral("controls-whiterose"), [] { return controls(9); }},
        {QStringLiteral("controls-nightcobalt"), [] { return controls(18); }},
        {QStringLiteral("controls-nightmatcha"), [] { return controls(16); }},
        {QStringLiteral("controls-charcoal"), [] { return controls(2); }},
        {QStringLiteral("controls-night"), [] { return controls(3); }},
        {QStringLiteral("alert-white"), [] { return deleteAlert(0); }},
        {QStringLiteral("alert-charcoal"), [] { return deleteAlert(2); }},
        {QStringLiteral("alert-nightcobalt"), [] { return deleteAlert(18); }},
        {QStringLiteral("editor-white"), [] { return editor(0); }},
        {QStringLiteral("editor-charcoal"), [] { return editor(2); }},
        {QStringLiteral("sidebar-white"), [] { return sidebar(0); }},
        {QStringLiteral("sidebar-charcoal"), [] { return sidebar(2); }},
        {QStringLiteral("list-open-row"), [] { return noteList(NoteStorageInbox, {}, -100, true); }},
        {QStringLiteral("list-armed-row"), [] { return noteList(NoteStorageInbox, {}, -170, false); }},
        {QStringLiteral("list-empty"), [] { return noteList(NoteTagHashtag, QStringLiteral("nothing"), {}, false); }},
        {QStringLiteral("quickopen-tags"), [] { return quickOpen(QStringLiteral("#pl")); }},
        {QStringLiteral("quickopen-text"), [] { return quickOpen(QStringLiteral("pier")); }},
        {QStringLiteral("quickopen-low-window"), quickOpenInALowWindow},
        {QStringLiteral("theme-popover-screen-edge"), themePopoverAtScreenEdge},
        {QStringLiteral("sync-dialog"), syncDialog},
    };
    return all;
}

} // namespace

namespace UiScenes {

QStringList names()
{
    QStringList list;
    for (const auto& [name, build] : scenes())
        list.append(name);
    return list;
}

std::unique_ptr<QWidget> build(const QString& name)
{
    const auto scene = scenes().find(name);
    if (scene == scenes().end())
        return nullptr;
    const bool testMode = AnimationContext::isTestMode();
    AnimationContext::setTestMode(true);
    std::unique_ptr<QWidget> widget = scene->second();
    AnimationContext::setTestMode(testMode);
    return widget;
}

} // namespace UiScenes
