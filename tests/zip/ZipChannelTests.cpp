#include "ZPDataChannel.h"
#include "ZPDataChannelOutput.h"
#include "ZPFileChannel.h"
#include "ZPFileChannelOutput.h"
#include "TestSupport.h"
#include "ZipTestArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

namespace {

using ZipTest::bytesOf;
using TestSupport::readFile;
using TestSupport::writeFile;

// One operation on an output: seek to value, write bytes, or truncate at value.
struct Step {
    char op;
    std::uint32_t value = 0;
    QByteArray bytes = {};
};

void run(ZPChannelOutput& output, const std::vector<Step>& steps)
{
    for (const Step& step : steps) {
        const bool done = step.op == 's' ? output.seekToOffset(step.value)
            : step.op == 'w'             ? output.writeData(bytesOf(step.bytes))
                                         : output.truncateAtOffset(step.value);
        ASSERT_TRUE(done) << step.op;
    }
}

} // namespace

TEST(ZipChannel, DataAndFileOutputsAgreeOnEveryWrite)
{
    const QByteArray big(ZPFileChannelOutput::bufferSize + 1000, 'b');
    const struct {
        const char* name;
        QByteArray initial;
        std::vector<Step> steps;
        QByteArray expected;
        std::uint32_t offset;
    } cases[] = {
        {"past the end of nothing", "", {{'s', 10}, {'w', 0, "abcde"}}, QByteArray(10, '\0') + "abcde", 15},
        {"inside keeps the length", "0123456789", {{'s', 2}, {'w', 0, "abc"}}, "01abc56789", 5},
        {"truncate at the position", "0123456789", {{'s', 2}, {'w', 0, "abc"}, {'t', 5}}, "01abc", 5},
        {"append at the end", "0123", {{'s', 4}, {'w', 0, "45"}, {'w', 0, "6"}}, "0123456", 7},
        {"truncate longer fills zeros", "01", {{'t', 4}}, QByteArray("01\0\0", 4), 0},
        {"buffered writes then seek back", "", {{'w', 0, big}, {'w', 0, "tail"}, {'s', 1}, {'w', 0, "X"}},
         "b" "X" + big.mid(2) + "tail", 2},
    };
    const QString path = QDir::home().filePath(QStringLiteral("output.bin"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto data = std::make_shared<QByteArray>(c.initial);
        ZPDataChannelOutput dataOutput(data);
        run(dataOutput, c.steps);
        EXPECT_EQ(*data, c.expected);
        EXPECT_EQ(dataOutput.offset(), c.offset);

        writeFile(path, c.initial);
        auto fileOutput = ZPFileChannel(path).newOutput();
        ASSERT_TRUE(fileOutput);
        run(*fileOutput, c.steps);
        EXPECT_EQ(fileOutput->offset(), c.offset);
        EXPECT_TRUE(fileOutput->close());
        EXPECT_EQ(readFile(path), c.expected);
    }
}

TEST(ZipChannel, OutputsRefuseToPassFourGiB)
{
    auto data = std::make_shared<QByteArray>();
    ZPDataChannelOutput output(data);
    ASSERT_TRUE(output.seekToOffset(0xFFFFFFF0));
    Error error;
    EXPECT_FALSE(output.writeData(bytesOf(QByteArray(17, 'x')), &error));
    EXPECT_EQ(error.code, EFBIG);
    EXPECT_TRUE(data->isEmpty());
}

TEST(ZipChannel, FileInputMapsAnEmptyFile)
{
    const QString empty = QDir::home().filePath(QStringLiteral("empty.zip"));
    writeFile(empty, {});
    const auto contents = ZPFileChannel(empty).newInput();
    ASSERT_TRUE(contents);
    EXPECT_TRUE(contents->bytes().empty());
}

TEST(ZipChannel, TemporaryFileReplacesTheArchiveOrTheLinkTarget)
{
    const QDir home = QDir::home();
    home.mkpath(QStringLiteral("x/y"));
    const QString target = home.filePath(QStringLiteral("x/y/archive.zip"));
    const QString link = home.filePath(QStringLiteral("link.zip"));
    for (const QString& path : {target, link}) {
        SCOPED_TRACE(path.toStdString());
        writeFile(target, "old");
        ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0604), 0);
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(target, link));

        ZPFileChannel channel(path);
        const auto temporary = channel.temporaryChannel();
        ASSERT_TRUE(temporary);
        const QFileInfo temporaryFile(temporary->URL());
        const QString name = QRegularExpression::escape(QFileInfo(path).fileName());
        EXPECT_TRUE(QRegularExpression(QRegularExpression::escape(home.filePath(QStringLiteral("x/y/.")))
                                       + name + QStringLiteral("\\.[^/]{6}/") + name + u'$')
                        .match(temporaryFile.filePath())
                        .hasMatch())
            << temporaryFile.filePath().toStdString();
        EXPECT_EQ(QFileInfo(temporaryFile.absolutePath()).permissions() & 0x0077, 0);

        auto output = temporary->newOutput();
        ASSERT_TRUE(output && output->writeData(bytesOf("new")) && output->close());
        Error error;
        ASSERT_TRUE(channel.replaceWithChannel(*temporary, &error)) << error.localizedDescription().toStdString();
        temporary->removeAsTemporary();

        EXPECT_EQ(readFile(target), "new");
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0604u);
        EXPECT_FALSE(temporaryFile.dir().exists());
    }
}

TEST(ZipChannel, DataChannelWritesOnlyWritableData)
{
    auto data = std::make_shared<QByteArray>("old");
    ZPDataChannel readOnly(data, false);
    Error error;
    EXPECT_FALSE(readOnly.newOutput(&error));
    EXPECT_EQ(error.code, EROFS);
    EXPECT_FALSE(readOnly.temporaryChannel());

    ZPDataChannel writable(data, true);
    const auto before = writable.newInput();
    const auto temporary = writable.temporaryChannel();
    ASSERT_TRUE(temporary);
    temporary->newOutput()->writeData(bytesOf("new"));
    EXPECT_FALSE(readOnly.replaceWithChannel(*temporary));
    ASSERT_TRUE(writable.replaceWithChannel(*temporary));
    EXPECT_EQ(*data, "new");
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(before->bytes().data()), 3), "old");
}
