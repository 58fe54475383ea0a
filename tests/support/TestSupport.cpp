#include "TestSupport.h"

#include "Dispatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace TestSupport {

QString home() { return qEnvironmentVariable("HOME"); }

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QString randomString(std::mt19937& random, const QString& alphabet, int longest)
{
    QString text;
    for (int i = int(random() % unsigned(longest + 1)); i > 0; --i)
        text += alphabet.at(qsizetype(random() % alphabet.size()));
    return text;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

int modeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

VirtualTime::VirtualTime() { DispatchTime::setVirtual(true); }

VirtualTime::~VirtualTime()
{
    Dispatch::waitUntilIdle();
    DispatchTime::setVirtual(false);
}

void VirtualTime::advance(double seconds) { DispatchTime::advance(seconds); }

} // namespace TestSupport
