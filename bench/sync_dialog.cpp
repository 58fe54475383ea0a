// Opening the Sync dialog, from creation to its first paint, beside Qt's own
// folder chooser, which the dialog opens for the sync folder. Target: ≤ 100 ms.
#include "CloudSetup.h"
#include "Core.h"
#include "shell/SyncDialog.h"

#include "Cloud/FolderAppleCloud.h"

#include "Folders.h"
#include "UserDefaults.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>

namespace {

void OpenSyncDialog(benchmark::State& state)
{
    auto cloud = std::dynamic_pointer_cast<FolderAppleCloud>(Core::shared().appleCloud());
    for (auto _ : state) {
        SyncDialog dialog(cloud, Core::shared(), UserDefaults::standard());
        dialog.show();
        benchmark::DoNotOptimize(dialog.grab());
    }
}

// Peer: Qt's folder chooser (its own widgets, not the desktop's), over the same home.
void OpenQtFolderChooser(benchmark::State& state)
{
    for (auto _ : state) {
        QFileDialog dialog(nullptr, QStringLiteral("Choose the Sync Folder"), Folders::home());
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.show();
        benchmark::DoNotOptimize(dialog.grab());
    }
}

} // namespace

BENCHMARK(OpenSyncDialog)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenQtFolderChooser)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    Folders::placeInHome(home.path());
    QApplication app(argc, argv);
    Core::Configuration configuration;
    configuration.makeAppleCloud = CloudSetup::makeAppleCloud;
    Core::configure(configuration);
    const QString folder = home.path() + QStringLiteral("/Sync");
    Folders::ensure(folder);
    CloudSetup::setDriveFolder(static_cast<FolderAppleCloud&>(*Core::shared().appleCloud()), folder);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
