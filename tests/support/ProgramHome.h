#pragma once

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

// The environment of a program started in a home of its own: every XDG folder it uses inside,
// the offscreen platform and no session bus. The folders are made here.
inline QProcessEnvironment programHome(const QString& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const std::pair<const char*, const char*> folders[] = {
        {"HOME", ""}, {"XDG_CONFIG_HOME", "/.config"}, {"XDG_DATA_HOME", "/.local/share"}, {"XDG_STATE_HOME", "/.local/state"},
        {"XDG_CACHE_HOME", "/.cache"}, {"XDG_DOCUMENTS_DIR", "/Documents"}, {"XDG_RUNTIME_DIR", "/run"},
    };
    for (const auto& [variable, sub] : folders) {
        QDir().mkpath(home + sub);
        environment.insert(variable, home + sub);
    }
    QFile::setPermissions(home + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    return environment;
}
