#include "KitTestSupport.h"

#include "kit/MenuItem.h"
#include "kit/Window.h"
#include "shell/RootWindow.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// A text field that handles "copy:" itself, as the editor will.
class CopyingField : public QLineEdit, public Responder {
public:
    CopyingField() { addHandler(Selector("copy:"), [this](QObject*) { ++copies; }); }
    int copies = 0;
};

class AppDelegate : public Responder {
public:
    AppDelegate() { addHandler(Selector("copy:"), [this](QObject*) { ++copies; }); }
    int copies = 0;
};

// A window whose content holds a copying field and a plain field.
struct ChainFixture {
    ChainFixture()
    {
        controller->handle("copy:");
        window.setContentViewController(controller);
        auto* column = new QVBoxLayout(controller->view());
        column->addWidget(field);
        column->addWidget(plain);
        window.resize(300, 200);
    }
    Window window;
    RecordingController* controller = new RecordingController;
    CopyingField* field = new CopyingField;
    QLineEdit* plain = new QLineEdit;
};

TEST(KitResponderChain, FocusedWidgetWinsThenControllerThenApplicationDelegate)
{
    ChainFixture f;
    AppDelegate app;
    ResponderChain::setApplicationDelegate(&app);
    QObject sender;

    f.field->setFocus();
    EXPECT_TRUE(ResponderChain::sendAction(Selector("copy:"), nullptr, &sender, &f.window));
    EXPECT_EQ(f.field->copies, 1);
    EXPECT_TRUE(f.controller->calls.isEmpty());

    f.plain->setFocus();
    EXPECT_TRUE(ResponderChain::sendAction(Selector("copy:"), nullptr, &sender, &f.window));
    ASSERT_EQ(f.controller->calls.size(), 1);
    EXPECT_EQ(f.controller->calls[0].second, &sender);

    Window empty;
    EXPECT_TRUE(ResponderChain::sendAction(Selector("copy:"), nullptr, &sender, &empty));
    EXPECT_EQ(app.copies, 1);
    EXPECT_FALSE(ResponderChain::sendAction(Selector("paste:"), nullptr, &sender, &empty));
    ResponderChain::setApplicationDelegate(nullptr);
}

TEST(KitMenuItem, EnabledOnlyWhenSomeoneHandlesAndValidatesIt)
{
    ChainFixture f;
    f.plain->setFocus();
    struct Case {
        const char* selector;
        bool controllerEnables;
        bool enabled;
    };
    const Case cases[] = {
        {"copy:", true, true},
        {"copy:", false, false},
        {"nobodyHandles:", true, false},
    };
    for (const Case& c : cases) {
        f.controller->enables = c.controllerEnables;
        MenuItem item(QStringLiteral("Item"), Selector(c.selector));
        item.setWindow(&f.window);
        EXPECT_EQ(item.validate(), c.enabled) << c.selector;
        EXPECT_EQ(item.isEnabled(), c.enabled) << c.selector;
        EXPECT_EQ(item.dispatch(), c.enabled) << c.selector;
    }
    EXPECT_EQ(f.controller->calls.size(), 1);
}

TEST(KitMenuItem, ValidationSetsTitleAndStateWhenTheMenuOpensAndShortcutsFireOnlyWhileHandled)
{
    class Titling : public RecordingController {
    public:
        Titling() : RecordingController({"toggleSidebarShown:"}) {}
        bool respondsToSelector(const Selector& selector) const override
        {
            return handles && RecordingController::respondsToSelector(selector);
        }
        bool validateMenuItem(MenuItem& item) override
        {
            item.setText(hidden ? QStringLiteral("Show Sidebar") : QStringLiteral("Hide Sidebar"));
            item.setState(hidden);
            return true;
        }
        bool hidden = true;
        bool handles = true;
    };
    Window window;
    auto* controller = new Titling;
    window.setContentViewController(controller);
    QMenu* menu = window.menuBar()->addMenu(QStringLiteral("View"));
    MenuItem::validateOnShow(menu);
    auto* item = new MenuItem(QStringLiteral("?"), Selector("toggleSidebarShown:"), menu);
    item->setWindow(&window);
    item->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    menu->addAction(item);
    for (const bool hidden : {true, false}) {
        controller->hidden = hidden;
        emit menu->aboutToShow();
        EXPECT_EQ(item->text(), hidden ? "Show Sidebar" : "Hide Sidebar");
        EXPECT_EQ(item->isChecked(), hidden);
        EXPECT_TRUE(item->isEnabled());
    }

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(controller->calls.size(), 1);
    // Enabled when last validated, but nobody handles it any more: checked again before dispatch.
    controller->handles = false;
    QTest::keyClick(&window, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(controller->calls.size(), 1);
    EXPECT_FALSE(item->isEnabled());
    QTest::keyClick(&window, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(controller->calls.size(), 1);
}

TEST(KitRootWindow, MenuBarHoldsEveryCommandDisabledUntilHandled)
{
    RootWindow window;
    int items = 0;
    for (QAction* top : window.menuBar()->actions())
        for (QAction* entry : top->menu()->actions())
            if (auto* item = qobject_cast<MenuItem*>(entry)) {
                ++items;
                const bool windowsOwn = item->action() == Selector("toggleFullScreen:") ||
                                        item->action() == Selector("toggleToolbarShown:");
                EXPECT_EQ(item->validate(), windowsOwn) << item->action().name().constData();
                EXPECT_NE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S)) << item->action().name().constData();
            }
    EXPECT_GE(items, 60);
    const MenuItem* quit = MenuItem::find(window.menuBar(), Selector("terminate:"));
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_NE(window.shareMenu(), nullptr);
}

TEST(KitRootWindow, ForwardsNoteCommandsAndTheSidebarSegmentToTheContentControllerWithTheirSender)
{
    // Twelve keep their name; printing goes to the controller's own print commands.
    QList<std::pair<const char*, const char*>> forwards = {{"printNote:", "print:"}, {"printFormattedNote:", "printFormatted:"}};
    for (const char* same : {"restoreNoteToInbox:", "deleteNote:", "archiveNote:", "toggleSidebarShown:", "openQuickly:",
                             "newDocument:", "search:", "showThemeOptions:", "exportNote:", "sortNoteByUpdatedOn:",
                             "sortNoteByCreatedOn:", "sortNoteByTitle:"})
        forwards.append(std::pair(same, same));
    RootWindow window;
    auto* controller = new RecordingController;
    for (const auto& [action, target] : forwards)
        controller->handle(target);
    window.setContentViewController(controller);

    for (const auto& [action, target] : forwards) {
        QObject sender;
        controller->calls.clear();
        EXPECT_TRUE(window.tryToPerform(Selector(action), &sender)) << action;
        ASSERT_EQ(controller->calls.size(), 1) << action;
        EXPECT_EQ(controller->calls[0], RecordingController::Call(target, &sender)) << action;
        // The controller decides whether the item is enabled.
        MenuItem* item = MenuItem::find(window.menuBar(), Selector(action));
        ASSERT_NE(item, nullptr) << action;
        for (const bool enables : {false, true}) {
            controller->enables = enables;
            EXPECT_EQ(item->validate(), enables) << action;
        }
    }

    // The window's own print command stands between the chain and the controller's print:.
    controller->calls.clear();
    QObject sender;
    EXPECT_TRUE(ResponderChain::sendAction(Selector("print:"), nullptr, &sender, &window));
    EXPECT_TRUE(controller->calls.isEmpty());

    // The appearance control's segment 0 toggles the sidebar, the others nothing.
    QButtonGroup segments;
    QRadioButton sidebar, other;
    segments.addButton(&sidebar, 0);
    segments.addButton(&other, 1);
    other.setChecked(true);
    window.performAppearanceAction(&segments);
    EXPECT_TRUE(controller->calls.isEmpty());
    sidebar.setChecked(true);
    window.performAppearanceAction(&segments);
    ASSERT_EQ(controller->calls.size(), 1);
    EXPECT_EQ(controller->calls[0], RecordingController::Call("toggleSidebarShown:", &window));
}

} // namespace
