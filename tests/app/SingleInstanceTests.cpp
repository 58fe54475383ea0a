#include "AppTestSupport.h"

#include "shell/SignalPipe.h"
#include "shell/SingleInstance.h"

#include "TestSupport.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <future>

namespace {

using Message = SingleInstance::Message;

QString freshFolder()
{
    static int count = 0;
    return TestSupport::home() + QStringLiteral("/.run/instance-%1").arg(++count);
}

// Sends from another thread while this one runs the listening instance's event loop.
bool sendFrom(const SingleInstance& second, const Message& message)
{
    auto sent = std::async(std::launch::async, [&] { return second.send(message); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000));
    return sent.get();
}

// Writes raw bytes to the socket and returns what came back before it closed.
QByteArray exchange(const QString& socketPath, const QByteArray& bytes)
{
    auto answer = std::async(std::launch::async, [&] {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (!socket.waitForConnected(2000))
            return QByteArray("no connection");
        socket.write(bytes);
        socket.waitForBytesWritten(2000);
        QByteArray received;
        while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(1000))
            received += socket.readAll();
        return received + socket.readAll();
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000));
    return answer.get();
}

QByteArray framed(const QByteArray& payload, quint32 length)
{
    QByteArray prefix(4, '\0');
    qToBigEndian<quint32>(length, prefix.data());
    return prefix + payload;
}

TEST(ShellInstance, MessagesDecodeOnlyAsOneObjectOfTheRightFields)
{
    const Message message{{"brindlewick", "brindlewick://archive", "notes/plan.md", "ü #&"}, "/home/anna", "token-1"};
    EXPECT_EQ(SingleInstance::decode(SingleInstance::encode(message)), message);
    const std::pair<const char*, bool> payloads[] = {
        {R"({"argv":["a"],"cwd":"/","activationToken":"t"})", true},
        {R"({"argv":[],"cwd":"/"})", true},
        {R"({"argv":["a"],"cwd":"/","activationToken":5})", false},
        {R"({"argv":"a","cwd":"/"})", false},
        {R"({"argv":[1],"cwd":"/"})", false},
        {R"({"argv":["a"]})", false},
        {R"([{"argv":["a"],"cwd":"/"}])", false},
        {R"({"argv":["a"],"cwd":"/"} {})", false},
        {"", false},
        {"\xff\xfe", false},
    };
    for (const auto& [payload, valid] : payloads)
        EXPECT_EQ(SingleInstance::decode(payload).has_value(), valid) << payload;
}

TEST(ShellInstance, TheSecondStartHandsOverItsArgumentsAndGetsOk)
{
    const QString folder = freshFolder();
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    TestSupport::writeFile(folder + "/instance.sock", "left by a crash");

    SingleInstance first(folder);
    ASSERT_TRUE(first.claim());
    EXPECT_EQ(QFileInfo(folder).permissions() & (QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup), 0);
    QSignalSpy received(&first, &SingleInstance::messageReceived);

    SingleInstance second(folder);
    EXPECT_FALSE(second.claim());
    const Message message{{"brindlewick", "brindlewick://archive"}, "/tmp", ""};
    EXPECT_TRUE(sendFrom(second, message));
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0][0].value<Message>(), message);
}

TEST(ShellInstance, BadMessagesAreDroppedWithoutAnswer)
{
    SingleInstance first(freshFolder());
    ASSERT_TRUE(first.claim());
    QSignalSpy received(&first, &SingleInstance::messageReceived);
    const QByteArray good = R"({"argv":["a"],"cwd":"/"})";
    const std::pair<QByteArray, QByteArray> cases[] = {
        {framed("[1,2,3]", 7), ""},
        {framed("not json", 8), ""},
        {framed(QByteArray(16, 'x'), SingleInstance::MaximumMessageSize + 1), ""},
        {framed(good, quint32(good.size())), "ok"},
    };
    for (const auto& [bytes, answer] : cases)
        EXPECT_EQ(exchange(first.socketPath(), bytes), answer) << bytes.left(20).toHex().constData();
    EXPECT_EQ(received.size(), 1);
}

TEST(ShellInstance, NobodyListeningMeansNoOk)
{
    const QString folder = freshFolder();
    SingleInstance lonely(folder);
    EXPECT_FALSE(lonely.send({{"a"}, "/", ""}, 200));
}

TEST(ShellSignals, SignalsReachTheNewestPipeUntilItGoes)
{
    auto older = std::make_unique<SignalPipe>(std::initializer_list<int>{SIGUSR1, SIGUSR2});
    auto pipe = std::make_unique<SignalPipe>(std::initializer_list<int>{SIGUSR1, SIGUSR2});
    QSignalSpy received(pipe.get(), &SignalPipe::received);
    older.reset(); // an older pipe going must not disarm the newer
    std::raise(SIGUSR2);
    std::raise(SIGUSR1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == 2; }, 2000));
    EXPECT_EQ(received[0][0].toInt(), SIGUSR2);
    EXPECT_EQ(received[1][0].toInt(), SIGUSR1);
    pipe.reset();
    struct sigaction current = {};
    ::sigaction(SIGUSR1, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

} // namespace
