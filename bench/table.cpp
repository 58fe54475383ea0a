// The table with 10,000 rows beside a QListView over a QStringListModel of the same rows, row texts
// of the snippet builder, and the sidebar with 1,000 hashtags and 200 mentions.
// Targets: reload and first paint of an 800-px table within 20 ms and twice the list view; a page-down
// step within 4 ms; at most 30 MB more after scrolling every row; a note row's text within 30 us, a
// search row with five marks within 50 us; the sidebar's folders from reload to painted within 50 ms.
#include "offscreen_main.h"
#include "kit/TableView.h"
#include "panes/FolderViewController.h"

#include "Core.h"
#include "Dispatch.h"
#include "Snippets/SnippetFormatter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QPainter>
#include <QScrollBar>
#include <QStringListModel>
#include <QTemporaryDir>

namespace {

constexpr int RowCount = 10'000;
constexpr QSize TableSize{300, 800};

QStringList rowTexts()
{
    QStringList rows;
    for (int i = 0; i < RowCount; ++i)
        rows.append(QStringLiteral("Note %1 about the plans for the week").arg(i));
    return rows;
}

// A row that draws one line of text, as a QListView delegate does.
class TextRow : public QWidget {
public:
    QString text;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.drawText(rect().adjusted(4, 0, 0, 0), Qt::AlignVCenter, text);
    }
};

struct TextRows : TableViewDataSource {
    QStringList rows = rowTexts();
    qsizetype numberOfRowsInTableView(TableView&) override { return rows.size(); }
    double tableViewHeightOfRow(TableView&, qsizetype) override { return 22; }
    QWidget* tableViewViewForRow(TableView& table, qsizetype row) override
    {
        auto* view = static_cast<TextRow*>(table.makeView(QStringLiteral("text"), [] { return new TextRow; }));
        view->text = rows[row];
        return view;
    }
};

// Seconds per reload of the peer, measured first, for the ratio.
double peerSeconds = 0;

// Peer: the same rows set on a QStringListModel under a QListView of uniform rows, laid out as the view
// does before it shows, then painted.
void ListViewReloadAndPaint(benchmark::State& state)
{
    const QStringList rows = rowTexts();
    QStringListModel model;
    QListView view;
    view.setUniformItemSizes(true);
    view.setModel(&model);
    view.resize(TableSize);
    view.show();
    QElapsedTimer timer;
    timer.start();
    for (auto _ : state) {
        model.setStringList(rows);
        view.doItemsLayout();
        paint(view.viewport());
    }
    peerSeconds = secondsPerIteration(state, timer);
}

// The 800-px table over the rows, shown.
struct ShownTable {
    TextRows rows;
    TableView table;
    ShownTable()
    {
        table.setDataSource(&rows);
        table.resize(TableSize);
        table.show();
        table.reloadData();
    }
};

// Ours: reload and first paint.
void TableReloadAndPaint(benchmark::State& state)
{
    ShownTable shown;
    TableView& table = shown.table;
    QElapsedTimer timer;
    timer.start();
    for (auto _ : state) {
        table.reloadData();
        paint(table.viewport());
    }
    if (peerSeconds > 0)
        state.counters["ratio_to_peer"] = secondsPerIteration(state, timer) / peerSeconds;
}

double statusKB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').first().toDouble();
    return 0;
}

// One page down and its paint; the memory counter is the growth after a pass over every row.
void TablePageDown(benchmark::State& state)
{
    ShownTable shown;
    TableView& table = shown.table;
    const double before = statusKB("VmRSS");
    QScrollBar* bar = table.verticalScrollBar();
    for (auto _ : state) {
        if (bar->value() == bar->maximum()) {
            state.PauseTiming();
            bar->setValue(0);
            state.ResumeTiming();
        }
        bar->setValue(bar->value() + bar->pageStep());
        paint(table.viewport());
    }
    while (bar->value() < bar->maximum())
        bar->setValue(bar->value() + bar->pageStep());
    state.counters["rss_growth_MB"] = (statusKB("VmRSS") - before) / 1024;
}

void NoteRowText(benchmark::State& state)
{
    SnippetFormatter formatter;
    formatter.reloadFonts(0, 0);
    const QString summary = QStringLiteral("- buy milk~\n- call Ann about the #plan for Friday");
    for (auto _ : state)
        benchmark::DoNotOptimize(formatter.newSnippetWithNote(QStringLiteral("Weekly plan"), summary));
}

void SearchRowText(benchmark::State& state)
{
    SnippetFormatter formatter;
    formatter.reloadFonts(0, 0);
    const QString snippet =
        QStringLiteral("the [plan] for #[work] is to [ship] the [first] draft and then [review] it with the team");
    for (auto _ : state)
        benchmark::DoNotOptimize(formatter.newSnippetWithSearchTitle(QStringLiteral("Weekly plan"), snippet));
}

// From reloadFolders to the painted sidebar, 1,000 hashtags and 200 mentions on disk.
void SidebarReload(benchmark::State& state)
{
    for (int i = 0; i < 1000; ++i)
        QDir().mkpath(Note::linkDirectoryForTag(NoteTagHashtag) + QStringLiteral("/tag%1").arg(i));
    for (int i = 0; i < 200; ++i)
        QDir().mkpath(Note::linkDirectoryForTag(NoteTagMention) + QStringLiteral("/person%1").arg(i));
    FolderViewController controller(Core::shared());
    controller.view()->resize(220, TableSize.height());
    controller.view()->show();
    for (auto _ : state) {
        bool done = false;
        controller.reloadFolders([&](bool) { done = true; });
        DispatchQueue::runMainUntil([&] { return done; }, 10);
        paint(controller.tableView()->viewport());
    }
    state.counters["rows"] = double(controller.tableBridge()->totalRows());
}

} // namespace

BENCHMARK(ListViewReloadAndPaint)->Unit(benchmark::kMillisecond);
BENCHMARK(TableReloadAndPaint)->Unit(benchmark::kMillisecond);
BENCHMARK(TablePageDown)->Unit(benchmark::kMillisecond);
BENCHMARK(NoteRowText)->Unit(benchmark::kMicrosecond);
BENCHMARK(SearchRowText)->Unit(benchmark::kMicrosecond);
BENCHMARK(SidebarReload)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The sidebar's tag folders go to a store of the run's own.
    QTemporaryDir home;
    Core::Configuration configuration;
    configuration.documentDirectory = home.path() + QStringLiteral("/Documents");
    configuration.cachesDirectory = home.path() + QStringLiteral("/Caches");
    Core::configure(configuration);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
