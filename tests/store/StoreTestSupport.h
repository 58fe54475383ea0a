#pragma once

#include "Core.h"

#include "TestSupport.h"
#include "UserDefaults.h"
#include "files/FileDates.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStringList>

#include <gtest/gtest.h>

#include <mutex>
#include <ostream>

// Failures show texts, not bytes.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// Configures the process's shared Core once, on store folders and a defaults
// file of its own under the test home; the other settings come from the caller.
inline Core& sharedTestCore(Core::Configuration configuration = {})
{
    static std::once_flag once;
    std::call_once(once, [&] {
        // Never destroyed, as Core that keeps it.
        static UserDefaults* const defaults = new UserDefaults(TestSupport::home() + QStringLiteral("/store-defaults.ini"));
        configuration.documentDirectory = TestSupport::home() + QStringLiteral("/Documents/Brindlewick");
        configuration.cachesDirectory = TestSupport::home() + QStringLiteral("/Caches/V5");
        configuration.defaults = defaults;
        EXPECT_TRUE(Core::configure(configuration));
    });
    return Core::shared();
}

// Every entry under the caches folder, sorted: its path and size, the text of a tag's
// spelling, and the dates a tag link carries.
inline QStringList cacheTree(const QString& root)
{
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString path = QDir(root).relativeFilePath(info.filePath());
        if (info.isDir()) {
            lines << path + QLatin1Char('/');
        } else if (info.fileName() == QLatin1String(".meta")) {
            lines << QStringLiteral("%1 %2 \"%3\"").arg(path).arg(info.size()).arg(
                         QString::fromUtf8(TestSupport::readFile(info.filePath())));
        } else if (path.startsWith(QLatin1String("Link/"))) {
            lines << QStringLiteral("%1 %2 %3 %4")
                         .arg(path)
                         .arg(info.size())
                         .arg(FileDates::creationDate(info.filePath()))
                         .arg(FileDates::modificationDate(info.filePath()));
        } else {
            lines << QStringLiteral("%1 %2").arg(path).arg(info.size());
        }
    }
    lines.sort();
    return lines;
}
