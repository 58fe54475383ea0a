#pragma once

#include <QList>
#include <QPair>
#include <QString>

// What a URL given to the application asks for. Scheme and host are compared exactly, case
// included; anything not understood asks for nothing.
struct URLCommand {
    enum class Kind { Nothing, Guide, SelectStorage, BugReport, Settings, OpenFile };
    using Parameter = QPair<QString, QString>;

    Kind kind = Kind::Nothing;
    int storage = 0;     // SelectStorage: 1 inbox, 2 archive, 4 hashtag, 5 mention
    QString tag;         // SelectStorage 4 and 5: unescaped, lower case
    QString query;       // SelectStorage and BugReport: unescaped; empty when absent or not UTF-8
    QList<Parameter> parameters; // Settings: raw key and value, in order
    QString filePath;    // OpenFile

    static URLCommand parse(const QString& text);

    // The query's "key=value" pieces in order; pieces without "=" are skipped, nothing is unescaped.
    static QList<Parameter> splitParameters(const QString& rawQuery);
    // A value is on when its lower-case form occurs in "on|yes|true|1"; the empty value is off.
    static bool isOn(const QString& value);
    // Percent escapes replaced as UTF-8; a null string when they do not make UTF-8.
    static QString unescape(const QString& text);
};
