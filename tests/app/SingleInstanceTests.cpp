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

// Runs the work on another thread while this one runs the listening instance's event loop.
template <typename Work>
auto offMainThread(Work work)
{
    auto result = std::async(std::launch::async, std::move(work));
    EXPECT_TRUE(QTest::qWaitFor([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 5000));
    return result.get();
}

// Writes raw bytes to the socket: what came back before it closed.
QByteArray exchange(const QString& socketPath, const QByteArray& bytes)
{
    return offMainThread([&] {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        socket.write(bytes);
        QByteArray received;
        while (socket.waitForReadyRead(1000))
            received += socket.readAll();
        return received;
    });
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

TEST(ShellInstance, TheSecondStartHandsOverItsArgumentsBadMessagesAreDropped)
{
    const QString folder = TestSupport::home() + "/.run/instance";
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    TestSupport::writeFile(folder + "/instance.sock", "left by a crash");
    SingleInstance first(folder), second(folder);
    EXPECT_FALSE(second.send({{"a"}, "/", ""}, 200)) << "nobody listens yet";
    ASSERT_TRUE(first.claim());
    EXPECT_EQ(QFileInfo(folder).permissions() & (QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup), 0);
    EXPECT_FALSE(second.claim());
    QSignalSpy received(&first, &SingleInstance::messageReceived);
    const Message message{{"brindlewick", "brindlewick://archive"}, "/tmp", ""};
    EXPECT_TRUE(offMainThread([&] { return second.send(message); }));
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0][0].value<Message>(), message);

    const QByteArray good = R"({"argv":["a"],"cwd":"/"})";
    const std::pair<QByteArray, QByteArray> cases[] = {
        {framed("[1,2,3]", 7), ""},
        {framed("not json", 8), ""},
        {framed(QByteArray(16, 'x'), SingleInstance::MaximumMessageSize + 1), ""},
        {framed(good, quint32(good.size())), "ok"},
    };
    for (const auto& [bytes, answer] : cases)
        EXPECT_EQ(exchange(first.socketPath(), bytes), answer) << bytes.left(20).toHex().constData();
    EXPECT_EQ(received.size(), 2);
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
