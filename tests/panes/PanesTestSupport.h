#pragma once

#include "../store/StoreTestSupport.h"

#include "kit/AnimationContext.h"
#include "panes/FolderEntryCell.h"
#include "panes/NoteTextView.h"
#include "shell/RootViewController.h"
#include "shell/RootWindow.h"

#include "Dispatch.h"

#include <QApplication>
#include <QBackingStore>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include <algorithm>

// Runs the queues and Qt's posted events, deferred deletions included.
inline void settle()
{
    Dispatch::waitUntilIdle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

// The widget's window as its backing store holds it: what was painted on screen, which grab() (a
// fresh render) cannot show. Empty when the window has no image backing store.
inline QImage paintedWindow(const QWidget& widget)
{
    const QWidget* window = widget.window();
    const auto* image = window->backingStore() ? dynamic_cast<const QImage*>(window->backingStore()->paintDevice()) : nullptr;
    return image ? *image : QImage();
}

// The colour at a point of the widget as painted on screen.
inline QColor paintedColour(const QWidget& widget, QPoint at)
{
    const QImage image = paintedWindow(widget);
    return image.isNull() ? QColor() : image.pixelColor(widget.mapTo(widget.window(), at));
}

// The colours laid one over the other, first at the bottom, as an opaque pixel shows them.
inline QColor laid(std::initializer_list<QColor> colours)
{
    QImage pixel(1, 1, QImage::Format_RGB32);
    pixel.fill(Qt::black);
    QPainter painter(&pixel);
    for (const QColor& colour : colours)
        painter.fillRect(0, 0, 1, 1, colour);
    painter.end();
    return pixel.pixelColor(0, 0);
}

// The pixel of the rectangle farthest from the fill: where text covers a pixel whole, its colour.
inline QColor inkColour(const QImage& image, const QRect& rect, const QColor& fill)
{
    const auto distance = [&](QColor c) {
        return std::abs(c.red() - fill.red()) + std::abs(c.green() - fill.green()) + std::abs(c.blue() - fill.blue());
    };
    QColor ink = fill;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (const QColor c = image.pixelColor(x, y); distance(c) > distance(ink))
                ink = c;
    return ink;
}

// The smallest rectangle holding every pixel of the rectangle that is not the fill.
inline QRect inkBounds(const QImage& image, const QRect& rect, const QColor& fill)
{
    QRect ink;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (image.pixelColor(x, y) != fill)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

// A pane's test on the shared test Core, its animations at duration 0.
class PaneTest : public ::testing::Test {
protected:
    PaneTest() { AnimationContext::setTestMode(true); }
    Core& core = sharedTestCore();
};

// Configures the shared test Core before the window's members can reach it.
struct TestCoreFirst {
    TestCoreFirst()
    {
        sharedTestCore();
        AnimationContext::setTestMode(true);
    }
};

// The main window as main() builds it.
struct ShellWindow : TestCoreFirst {
    explicit ShellWindow(QSize size = {900, 600})
    {
        window.setContentViewController(shell);
        window.resize(size);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        Dispatch::waitUntilIdle();
        QApplication::processEvents();
    }

    NoteTextView* editor() { return shell->noteController()->textView(); }
    NotePtr note() { return shell->noteController()->warehouse()->editingNote(); }
    void newNote()
    {
        ASSERT_TRUE(window.tryToPerform(Selector("newDocument:"), nullptr));
        Dispatch::waitUntilIdle();
    }
    // One key at a time with the queues run in between, as the event loop delivers a user's typing.
    void type(const QString& keys)
    {
        for (const QChar key : keys) {
            if (key == QLatin1Char('\n'))
                QTest::keyClick(editor(), Qt::Key_Return);
            else
                QTest::keyClicks(editor(), QString(key));
            Dispatch::waitUntilIdle();
        }
    }
    // The sidebar entries drawn in its visible area, top to bottom.
    QStringList drawnSidebarEntries()
    {
        QApplication::processEvents();
        QWidget* area = shell->folderController()->tableView()->viewport();
        QList<FolderEntryCell*> cells;
        for (QWidget* child : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (auto* cell = dynamic_cast<FolderEntryCell*>(child);
                cell && cell->isVisible() && cell->geometry().intersects(area->rect()))
                cells.append(cell);
        std::sort(cells.begin(), cells.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
        QStringList texts;
        for (const FolderEntryCell* cell : cells)
            texts.append(cell->text());
        return texts;
    }

    RootWindow window;
    RootViewController* shell = new RootViewController(Core::shared());
};
