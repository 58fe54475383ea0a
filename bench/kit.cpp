// Menu validation and a window resize step, each beside the plain-Qt way of doing the same.
// Targets: validating a 60-item menu in at most 5 ms; one resize step of the main window (toolbar
// strip, two split views) in at most 2 ms.
#include "offscreen_main.h"
#include "kit/MenuItem.h"
#include "kit/SplitView.h"
#include "kit/ViewController.h"
#include "shell/RootWindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QSplitter>
#include <QVBoxLayout>

namespace {

QList<MenuItem*> menuItems(const QMenuBar* bar)
{
    QList<MenuItem*> items;
    for (QAction* top : bar->actions())
        for (QAction* entry : top->menu()->actions())
            if (auto* item = qobject_cast<MenuItem*>(entry))
                items.append(item);
    return items;
}

// Handles every command of the menu bar and answers each validation, as the window's controller will.
class Everything : public ViewController {
public:
    explicit Everything(const QList<MenuItem*>& items)
    {
        for (const MenuItem* item : items)
            addHandler(item->action(), [](QObject*) {});
    }
    bool validateMenuItem(MenuItem& item) override
    {
        item.setState(item.tag() == 0);
        return true;
    }

protected:
    QWidget* loadView() override
    {
        auto* view = new QWidget;
        auto* column = new QVBoxLayout(view);
        auto* nested = new QWidget;
        column->addWidget(nested);
        field = new QLineEdit(nested);
        return view;
    }

public:
    QLineEdit* field = nullptr;
};

// Ours: every item of the main menu bar asks the responder chain from a focused field.
void ValidateMenu(benchmark::State& state)
{
    RootWindow window;
    const QList<MenuItem*> items = menuItems(window.menuBar());
    auto* controller = new Everything(items);
    window.setContentViewController(controller);
    controller->field->setFocus();
    for (auto _ : state)
        MenuItem::validateAll({items.begin(), items.end()});
    state.counters["items"] = double(items.size());
}

// Peer: the same number of plain actions, each set from a flag in the menu's aboutToShow.
void ValidateMenuPlainQt(benchmark::State& state)
{
    QMainWindow window;
    QList<QAction*> actions;
    QMenu* menu = window.menuBar()->addMenu(QStringLiteral("Menu"));
    for (int i = 0; i < 60; ++i)
        actions.append(menu->addAction(QStringLiteral("Item %1").arg(i)));
    bool flag = true;
    QObject::connect(menu, &QMenu::aboutToShow, menu, [&] {
        for (QAction* action : actions) {
            action->setEnabled(flag);
            action->setCheckable(true);
            action->setChecked(!flag);
        }
    });
    for (auto _ : state) {
        emit menu->aboutToShow();
        flag = !flag;
    }
    state.counters["items"] = double(actions.size());
}

// Sidebar (folder | list) | note, like the main window's panes.
QWidget* panes(bool ours)
{
    if (!ours) {
        auto* sidebar = new QSplitter;
        sidebar->addWidget(new QWidget);
        sidebar->addWidget(new QWidget);
        auto* main = new QSplitter;
        main->addWidget(sidebar);
        main->addWidget(new QWidget);
        main->setHandleWidth(1);
        sidebar->setHandleWidth(1);
        return main;
    }
    auto* sidebar = new SplitView;
    sidebar->addSubview(new QWidget);
    sidebar->addSubview(new QWidget);
    auto* main = new SplitView;
    main->addSubview(sidebar);
    main->addSubview(new QWidget);
    return main;
}

class PaneController : public ViewController {
protected:
    QWidget* loadView() override
    {
        auto* view = new QWidget;
        auto* layout = new QVBoxLayout(view);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(panes(true));
        return view;
    }
};

void resizeSteps(benchmark::State& state, QMainWindow& window)
{
    window.resize(1000, 700);
    window.show();
    QApplication::processEvents();
    int width = 1000;
    for (auto _ : state) {
        width = width == 1000 ? 1001 : 1000;
        window.resize(width, 700);
        QApplication::processEvents();
    }
}

// Ours: the main window with its toolbar strip over the content, two split views inside.
void ResizeStep(benchmark::State& state)
{
    RootWindow window;
    window.setContentViewController(new PaneController);
    resizeSteps(state, window);
}

// Peer: a main window with a toolbar-like row above two nested splitters, laid out by Qt.
void ResizeStepPlainQt(benchmark::State& state)
{
    QMainWindow window;
    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    auto* strip = new QWidget;
    strip->setFixedHeight(RootWindow::StripHeight);
    auto* row = new QHBoxLayout(strip);
    for (int i = 0; i < 3; ++i)
        row->addWidget(new QWidget);
    column->addWidget(strip);
    column->addWidget(panes(false));
    window.setCentralWidget(central);
    window.menuBar()->addMenu(QStringLiteral("Menu"));
    resizeSteps(state, window);
}

} // namespace

BENCHMARK(ValidateMenu)->Unit(benchmark::kMicrosecond);
BENCHMARK(ValidateMenuPlainQt)->Unit(benchmark::kMicrosecond);
BENCHMARK(ResizeStep)->Unit(benchmark::kMicrosecond);
BENCHMARK(ResizeStepPlainQt)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    return runOffscreen(argc, argv);
}
