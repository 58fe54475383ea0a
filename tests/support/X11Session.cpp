#include "X11Session.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr int WaitMs = 5000;

// A child process that is stopped when the object goes.
struct Child {
    ~Child()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (process.waitForFinished(WaitMs))
            return;
        process.kill();
        process.waitForFinished(WaitMs);
    }
    QProcess process;
};

struct Session {
    // Stopped in reverse order of starting.
    Child server, manager, bus, notifications;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString failure;
};

std::unique_ptr<Session>& session()
{
    static std::unique_ptr<Session> running;
    return running;
}

void stopSession()
{
    session().reset();
}

// Polls until done() answers true, the child exits or the wait runs out.
bool waitFor(QProcess& child, const std::function<bool()>& done)
{
    for (int waited = 0; waited < WaitMs; waited += 50) {
        if (done())
            return true;
        if (child.waitForFinished(50))
            return false;
    }
    return done();
}

// Xvfb chooses a free display itself and names it once it listens, so parallel tests never share one.
std::optional<int> startServer(QProcess& server)
{
    server.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!waitFor(server, [&] { return server.canReadLine(); }))
        return std::nullopt;
    bool ok = false;
    const int display = server.readLine().trimmed().toInt(&ok);
    return ok ? std::optional<int>(display) : std::nullopt;
}

QString startAll(Session& s)
{
    QStringList missing;
    for (const char* program : {"Xvfb", "openbox", "xprop", "dbus-daemon", "dunst", "dunstctl"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            missing << QString::fromLatin1(program);
    if (!missing.isEmpty())
        return QStringLiteral("needs %1 (scripts/install-deps)").arg(missing.join(", "));

    const std::optional<int> display = startServer(s.server.process);
    if (!display)
        return QStringLiteral("Xvfb did not start");
    s.environment.insert("DISPLAY", QStringLiteral(":%1").arg(*display));

    s.bus.process.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (!s.bus.process.waitForReadyRead(WaitMs))
        return QStringLiteral("dbus-daemon did not start");
    s.environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(s.bus.process.readLine().trimmed()));

    s.manager.process.setProcessEnvironment(s.environment);
    s.manager.process.start(QStringLiteral("openbox"), {"--sm-disable"});
    if (!waitFor(s.manager.process, [] { return X11Session::run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"); }))
        return QStringLiteral("openbox did not start");

    s.notifications.process.setProcessEnvironment(s.environment);
    s.notifications.process.start(QStringLiteral("dunst"), {});
    if (!waitFor(s.notifications.process, [] { return !X11Session::run("dunstctl", {"is-paused"}).isEmpty(); }))
        return QStringLiteral("dunst did not start");
    return QString();
}

} // namespace

namespace X11Session {

bool start(QString* reason)
{
    if (!session()) {
        session() = std::make_unique<Session>();
        session()->failure = startAll(*session());
        qAddPostRoutine(stopSession);
    }
    if (reason)
        *reason = session()->failure;
    return session()->failure.isEmpty();
}

QProcessEnvironment environment()
{
    return session() ? session()->environment : QProcessEnvironment::systemEnvironment();
}

QByteArray run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(WaitMs) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

} // namespace X11Session
