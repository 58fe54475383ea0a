#include "ShellTestSupport.h"
#include "SteppedAnimationClock.h"

#include "kit/MenuItem.h"
#include "kit/QtColor.h"
#include "panes/FolderEntryCell.h"
#include "panes/FolderViewController.h"
#include "views/ToolbarButton.h"
#include "views/ToolbarView.h"

#include "VGFileLogger.h"
#include "VGLog.h"
#include "VGLogFileManagerDefault.h"

#include <QLabel>

namespace {

// The theme, create and sidebar buttons, the search field's item and the image strip under the toolbar.
QList<double> toolbarAlphas(const RootWindow& window, const RootViewController& root)
{
    return {AnimationContext::alpha(window.themeButton()), AnimationContext::alpha(window.createNoteButton()),
            AnimationContext::alpha(window.toggleSideBarButton()), AnimationContext::alpha(window.listToolbarItem()),
            AnimationContext::alpha(root.toolbar())};
}

TEST_F(ShellTest, WidthsTheSidebarAndANewNoteUnderTheNameItGetsAtQuitOutliveARestart)
{
    write(QStringLiteral("Last.txt"), QStringLiteral("last note"));
    UserDefaults::standard().setString(QStringLiteral("Last.txt"), QStringLiteral("selectedNoteKey"));
    UserDefaults::standard().setInteger(NoteStorageInbox, QStringLiteral("selectedNoteStorage"));
    open();
    EXPECT_EQ(editor()->string(), QStringLiteral("last note"));
    root->newDocument();
    settle();
    EXPECT_TRUE(editor()->hasFocus());
    type(QStringLiteral("Groceries for the week"));
    time.advance(2);
    root->menuSplitView()->setPosition(150, 0);
    root->mainSplitView()->setPosition(150 + 1 + 230, 0);
    time.advance(RootViewController::ResizeSettleDelay);
    root->applicationWillTerminate();
    reopen();
    EXPECT_EQ(editor()->string(), QStringLiteral("Groceries for the week"));
    EXPECT_EQ(root->folderWidth(), 150);
    EXPECT_EQ(root->listWidth(), 230);
    EXPECT_EQ(root->mainSplitView()->positionOfDivider(0), 150 + 1 + 230);

    root->mainSplitView()->setPosition(5, 0);
    time.advance(RootViewController::ResizeSettleDelay);
    EXPECT_TRUE(root->isSidebarHidden()) << "a sidebar 5 wide counts as hidden";
    EXPECT_EQ(root->folderWidth(), 150) << "narrow panes are not remembered";
    reopen();
    EXPECT_TRUE(root->isSidebarHidden());
    EXPECT_EQ(root->mainSplitView()->positionOfDivider(0), 0);
    root->toggleSidebarShown();
    EXPECT_EQ(root->mainSplitView()->positionOfDivider(0), 150 + 1 + 230);

    window->resize(10, 10);
    settle();
    EXPECT_EQ(root->view()->size(), RootViewController::MinimumSize);
    for (QWidget* part : {root->noteContainer(), window->noteToolbarItem(), window->listToolbarItem()})
        EXPECT_GE(part->width(), 0);
    EXPECT_EQ(root->noteContainer()->width(), 200) << "the note pane keeps 200, the sidebar gives the rest";
}

TEST_F(ShellTest, TypingFadesTheToolbarOnlyWithTheSidebarHiddenAndNothingHoldingIt)
{
    const struct { const char* name; bool sidebarHidden, popover, fullScreen, fades; } cases[] = {
        {"sidebar hidden", true, false, false, true},
        {"sidebar shown", false, false, false, false},
        {"theme popover open", true, true, false, false},
        {"full screen", true, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open();
        c.sidebarHidden ? root->hideSidebar() : root->showSidebar();
        if (c.popover)
            root->showThemeOptions();
        if (c.fullScreen) {
            root->windowWillEnterFullScreen();
            root->windowDidEnterFullScreen();
        }
        const QList<double> before = toolbarAlphas(*window, *root);
        editor()->setFocus();
        type(QStringLiteral("a"));
        settle();
        EXPECT_EQ(toolbarAlphas(*window, *root), c.fades ? QList<double>({0, 0, 0, 0, 0}) : before);
        EXPECT_FALSE(root->fadeOutToolbarIfPossible()) << "a second key starts no animation";
        if (root->popOverController())
            root->popOverController()->close();
    }
    root->toolbarViewMouseDidEnter(*window->toolbar());
    settle();
    EXPECT_EQ(toolbarAlphas(*window, *root), (QList<double>{0, 1, 0, 1, 1})) << "full screen keeps its own toolbar";

    // Run on Qt's animation clock, stepped by hand: the strip is drawn again as it was.
    open();
    root->hideSidebar();
    settle();
    const QImage shown = window->grab().toImage();
    SteppedAnimationClock clock;
    AnimationContext::setTestMode(false);
    type(QStringLiteral("b"));
    for (int ms = 0; ms <= 700; ms += 100)
        clock.step(100), window->grab();
    root->toolbarViewMouseDidEnter(*window->toolbar());
    for (int ms = 0; ms <= 700; ms += 100)
        clock.step(100), window->grab();
    AnimationContext::setTestMode(true);
    EXPECT_EQ(toolbarAlphas(*window, *root), (QList<double>{1, 1, 1, 1, 1})) << "the pointer over the strip brings it back";
    const QRect strip(window->toolbar()->mapTo(window, QPoint()), window->toolbar()->size());
    EXPECT_EQ(window->grab().toImage().copy(strip), shown.copy(strip));
}

TEST_F(ShellTest, FullScreenShowsOnlyTheCreateButtonAndLeavingItReopensTheSidebar)
{
    open();
    root->windowWillEnterFullScreen();
    EXPECT_EQ(root->mainSplitView()->positionOfDivider(0), 0);
    EXPECT_FALSE(root->isSidebarHidden()) << "entering full screen only collapses the sidebar";
    root->windowDidEnterFullScreen();
    settle();
    EXPECT_EQ(toolbarAlphas(*window, *root), (QList<double>{0, 1, 0, 1, 1}));
    EXPECT_TRUE(window->themeButton()->isHidden());
    EXPECT_TRUE(window->toggleSideBarButton()->isHidden());
    MenuItem sidebar(QString(), Selector("toggleSidebarShown:"));
    MenuItem fullScreen(QString(), Selector("toggleFullScreen:"));
    EXPECT_FALSE(root->validateMenuItem(sidebar));
    EXPECT_TRUE(root->validateMenuItem(fullScreen));
    EXPECT_EQ(sidebar.text(), QStringLiteral("Show Sidebar"));
    EXPECT_EQ(fullScreen.text(), QStringLiteral("Exit Full Screen"));

    root->windowWillExitFullScreen();
    settle();
    EXPECT_EQ(root->mainSplitView()->positionOfDivider(0), int(root->listWidth() + root->folderWidth() + 1));
    EXPECT_EQ(toolbarAlphas(*window, *root), (QList<double>{1, 1, 1, 1, 1}));
    EXPECT_TRUE(root->validateMenuItem(sidebar));
    root->validateMenuItem(fullScreen);
    EXPECT_EQ(sidebar.text(), QStringLiteral("Hide Sidebar"));
    EXPECT_EQ(fullScreen.text(), QStringLiteral("Enter Full Screen"));
    root->hideSidebar();
    root->validateMenuItem(sidebar);
    EXPECT_EQ(sidebar.text(), QStringLiteral("Show Sidebar"));
}

// The theme popover hangs from the theme button, and in full screen from the top 50 points of the
// root view, which starts below the window's top.
TEST_F(ShellTest, TheThemePopoverHangsBelowTheTopOfTheRootView)
{
    for (const bool fullScreen : {false, true}) {
        SCOPED_TRACE(fullScreen ? "full screen" : "window");
        open();
        if (fullScreen) {
            root->windowWillEnterFullScreen();
            root->windowDidEnterFullScreen();
            settle();
        }
        const int rootTop = root->view()->mapTo(window, QPoint()).y();
        ASSERT_GT(rootTop, 0) << "the menu bar sits above the root view";
        root->showThemeOptions();
        settle();
        ASSERT_TRUE(root->popOverController());
        const QRect frame = root->popOverController()->geometry();
        QWidget* button = window->themeButton();
        const QPoint buttonInWindow = button->mapTo(window, QPoint());
        const int anchorBottom = fullScreen ? rootTop + 50 : buttonInWindow.y() + button->height();
        EXPECT_EQ(frame.top(), window->mapToGlobal(QPoint(0, anchorBottom)).y());
        EXPECT_EQ(frame.size(), ThemeViewController::ContentSize);
        root->popOverController()->close();
    }
}

TEST_F(ShellTest, TheStripUnderTheToolbarSpansTheTopAndLosesItsImageWithTheKeyWindow)
{
    open();
    root->reloadTheme();
    EXPECT_EQ(root->toolbar()->geometry(), QRect(0, 0, root->view()->width(), RootWindow::StripHeight));
    EXPECT_FALSE(root->toolbar()->pixmap().isNull()) << "a theme gives it its shade";
    QWidget front;
    front.show();
    front.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&front));
    settle();
    EXPECT_TRUE(root->toolbar()->pixmap().isNull());
    root->reloadTheme();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    settle();
    EXPECT_TRUE(root->toolbar()->pixmap().isNull());
}

TEST_F(ShellTest, ChoosingAThemeStoresItAndRebuildsTheSidebarOnTheSameEntry)
{
    open();
    root->selectStorage(NoteStorageArchive, QString());
    settle();
    const QPointer<FolderViewController> before = root->folderController();
    ThemeViewController popover;
    root->themeControllerDidSelectTheme(popover, 2);
    settle();
    EXPECT_EQ(UserDefaults::standard().integerForKey(QStringLiteral("theme")), 2);
    EXPECT_EQ(Core::shared().colorTheme(), 2);
    EXPECT_TRUE(before.isNull());
    ASSERT_NE(root->folderController(), nullptr);
    EXPECT_EQ(root->folderController()->selectedStorage(), NoteStorageArchive);
    EXPECT_EQ(window->palette().color(QPalette::Window), toQColor(Themeset::backgroundColorForTheme(2)));
    EXPECT_EQ(root->view()->palette().color(QPalette::Window), toQColor(Themeset::backgroundColorForTheme(2)));
}

TEST_F(ShellTest, QuitHidesCommitsWaitsAtMostTheQuitWaitThenLogsAndTerminates)
{
    const QString logs = TestSupport::home() + QStringLiteral("/quit-logs");
    auto files = std::make_shared<VGLogFileManagerDefault>(logs);
    auto logger = std::make_shared<VGFileLogger>(files);
    VGLog::addLogger(logger);
    for (const bool cloudHangs : {false, true}) {
        SCOPED_TRACE(cloudHangs ? "the cloud never drains" : "the cloud drains");
        open();
        root->newDocument();
        settle();
        type(QStringLiteral("Packing list"));
        heldCloud().hold = cloudHangs;
        QStringList seen;
        root->setTerminate([&] {
            const NotePtr note = root->warehouse()->editingNote();
            seen << (window->isHidden() ? "hidden" : "shown")
                 << QString::fromUtf8(TestSupport::readFile(Note::documentFileForKey(note->key(), NoteStorageInbox)));
        });
        root->terminateApp();
        settle();
        if (cloudHangs) {
            EXPECT_TRUE(seen.isEmpty()) << "still waiting";
            time.advance(RootViewController::QuitWaitTimeout);
            settle();
        }
        EXPECT_EQ(seen, (QStringList{QStringLiteral("hidden"), QStringLiteral("Packing list")}));
        VGLog::flushLog();
        EXPECT_EQ(TestSupport::readFile(files->sortedLogFilePaths().value(0)).count("root:terminated!"), cloudHangs ? 2 : 1);
        time.advance(RootViewController::QuitWaitTimeout);
        EXPECT_EQ(seen.size(), 2) << "terminates once";
    }
    VGLog::removeLogger(logger);
}

TEST_F(ShellTest, ASidebarHiddenAtStartShowsItsRowsWhenShown)
{
    write(QStringLiteral("Weekend groceries.txt"), QStringLiteral("Weekend groceries\n- milk\n- bread"));
    UserDefaults::standard().setBool(true, QStringLiteral("sidebarHidden"));
    open();
    ASSERT_TRUE(root->isSidebarHidden());
    root->toggleSidebarShown();
    settle();
    // The row was made while the list was 0 wide; on screen its text must now run across it.
    const ListViewController& list = *root->listController();
    const QWidget* viewport = list.tableView()->viewport();
    const QRect row = list.tableView()->rectOfRow(list.tableBridge()->rowForRow(0, 1))
                          .translated(viewport->mapTo(window, QPoint()));
    const QImage screen = paintedWindow(*viewport);
    ASSERT_GT(row.width(), 100);
    EXPECT_GT(inkBounds(screen, row, screen.pixelColor(row.topRight() + QPoint(-2, 2))).width(), row.width() / 2);
}

TEST_F(ShellTest, ASidebarHiddenAtStartDrawsItsTagHeadersInsetWhenShown)
{
    write(QStringLiteral("Weekend groceries.txt"), QStringLiteral("Weekend groceries\n- milk #shopping @sam"));
    UserDefaults::standard().setBool(true, QStringLiteral("sidebarHidden"));
    open();
    ASSERT_TRUE(root->isSidebarHidden());
    root->toggleSidebarShown();
    settle();
    FolderViewController& sidebar = *root->folderController();
    const QWidget* viewport = sidebar.tableView()->viewport();
    const QImage screen = paintedWindow(*viewport);
    for (const int64_t section : {FolderViewController::Hashtags, FolderViewController::Mentions}) {
        const QRect header = sidebar.tableView()->rectOfRow(sidebar.tableBridge()->rowForHeader(section))
                                 .translated(viewport->mapTo(window, QPoint()));
        ASSERT_GT(header.width(), 100) << section;
        const QRect ink = inkBounds(screen, header, screen.pixelColor(header.topRight() + QPoint(-2, 2)));
        ASSERT_FALSE(ink.isEmpty()) << section;
        EXPECT_GE(ink.left() - header.left(), FolderEntryCell::TextInset) << section;
    }
}

} // namespace
