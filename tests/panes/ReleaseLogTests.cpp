#include "PanesTestSupport.h"

#include "../store/LogCapture.h"
#include "panes/FolderViewController.h"
#include "panes/NoteViewController.h"

#include <memory>

namespace {

// Each pane that says goodbye does so once, in its own channel: the console or the log.
TEST_F(PaneTest, ReleasedPanesWriteTheirLastLine)
{
    const struct {
        const char* line;
        bool console;
        std::function<void()> makeAndRelease;
    } panes[] = {
        {"note:dealloc!", true, [] { std::make_unique<NoteViewController>()->view(); }},
        {"folder:dealloc", false, [this] { std::make_unique<FolderViewController>(core)->view(); }},
    };
    for (const auto& p : panes) {
        SCOPED_TRACE(p.line);
        const auto log = LogCapture::install();
        testing::internal::CaptureStderr();
        p.makeAndRelease();
        const QString console = QString::fromStdString(testing::internal::GetCapturedStderr());
        const QStringList logged = log->lines();
        log->uninstall();
        EXPECT_EQ(console.count(QLatin1String(p.line)), p.console ? 1 : 0) << console.toStdString();
        EXPECT_EQ(logged.count(QLatin1String(p.line)), p.console ? 0 : 1);
    }
}

} // namespace
