#pragma once

#include <QProcessEnvironment>
#include <QString>

// What needs a real desktop runs against a private one: Xvfb on a free display, openbox, a session
// bus of its own and dunst as its notification server. Started on first use, once per test program,
// and stopped when the program ends.
namespace X11Session {

// The session, started if need be; false with the reason when a program is missing or would not start.
bool start(QString* reason);
// This process's environment with DISPLAY and DBUS_SESSION_BUS_ADDRESS of the session.
QProcessEnvironment environment();
// Runs a program of the session (xprop, dunstctl …) and returns its standard output; empty on failure.
QByteArray run(const QString& program, const QStringList& arguments);

} // namespace X11Session
