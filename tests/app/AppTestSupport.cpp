#include "AppTestSupport.h"

#include "TestSupport.h"
#include "VGLog.h"
#include "X11Session.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

RecordingCloud& RecordingCloud::shared()
{
    static RecordingCloud* const cloud = new RecordingCloud; // outlives Core, which is never released
    return *cloud;
}

namespace {

// Before any test makes the shared Core, its cloud becomes the recorder; after the last, the loggers go.
class RecordingCloudEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        Core::Configuration configuration;
        configuration.makeAppleCloud = [] { return std::shared_ptr<AppleCloud>(&RecordingCloud::shared(), [](AppleCloud*) {}); };
        Core::configure(std::move(configuration));
    }
    // The loggers the delegate installed stop before the test's home, their folder, goes: the
    // removal only queues the file logger's last roll, which must not run into the exit.
    void TearDown() override
    {
        VGLog::removeAllLoggers();
        VGLog::flushLog();
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new RecordingCloudEnvironment);

} // namespace

void DesktopHandlerTest::SetUp()
{
    QString reason;
    if (!X11Session::start(&reason))
        GTEST_SKIP() << qPrintable(reason);
    if (QStandardPaths::findExecutable("xdg-open").isEmpty() || QStandardPaths::findExecutable("xdg-mime").isEmpty())
        GTEST_SKIP() << "needs xdg-utils";
    // xdg-open asks for a scheme's handler only with a display.
    previousDisplay_ = qgetenv("DISPLAY");
    qputenv("DISPLAY", X11Session::environment().value("DISPLAY").toUtf8());
    receivedPath = TestSupport::home() + "/received";
    QFile::remove(receivedPath);
    recorder = TestSupport::home() + "/link-recorder";
    const QByteArray target = receivedPath.toUtf8();
    TestSupport::writeFile(recorder, "#!/bin/sh\nprintf '%s' \"$1\" > '" + target + ".part' && mv '" + target + ".part' '" + target + "'\n");
    QFile::setPermissions(recorder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void DesktopHandlerTest::TearDown()
{
    if (previousDisplay_.isNull())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", previousDisplay_);
}

void DesktopHandlerTest::registerRecorder(const QString& mimeType)
{
    const QString applications = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/applications";
    TestSupport::writeFile(applications + "/link-recorder.desktop",
                           "[Desktop Entry]\nType=Application\nName=Link Recorder\nExec=" + recorder.toUtf8() +
                               " %u\nMimeType=" + mimeType.toUtf8() + ";\n");
    X11Session::run("xdg-mime", {"default", "link-recorder.desktop", mimeType});
    ASSERT_EQ(X11Session::run("xdg-mime", {"query", "default", mimeType}).trimmed(), "link-recorder.desktop");
}

QString DesktopHandlerTest::received()
{
    if (!QTest::qWaitFor([&] { return QFile::exists(receivedPath); }, 10000))
        return QString();
    const QString text = QString::fromUtf8(TestSupport::readFile(receivedPath));
    QFile::remove(receivedPath);
    return text;
}
