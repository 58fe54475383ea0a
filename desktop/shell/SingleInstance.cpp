#include "SingleInstance.h"

#include "Log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QThread>
#include <QtEndian>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString LockName = QStringLiteral("instance.lock");
const QString SocketName = QStringLiteral("instance.sock");
const QByteArray Answer = QByteArrayLiteral("ok");
constexpr int LengthSize = 4;

QByteArray lengthPrefix(qint64 size)
{
    QByteArray prefix(LengthSize, '\0');
    qToBigEndian<quint32>(quint32(size), prefix.data());
    return prefix;
}

bool isStringArray(const QJsonValue& value)
{
    if (!value.isArray())
        return false;
    const QJsonArray array = value.toArray();
    return std::all_of(array.begin(), array.end(), [](const QJsonValue& item) { return item.isString(); });
}

} // namespace

QString SingleInstance::defaultFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/brindlewick");
    return QDir::tempPath() + QStringLiteral("/brindlewick-%1").arg(::getuid());
}

SingleInstance::Message SingleInstance::currentMessage()
{
    QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    if (token.isEmpty())
        token = qEnvironmentVariable("DESKTOP_STARTUP_ID");
    return {QCoreApplication::arguments(), QDir::currentPath(), token};
}

SingleInstance::SingleInstance(const QString& folder, QObject* parent) : QObject(parent), folder_(folder)
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketPath() const
{
    return folder_ + QLatin1Char('/') + SocketName;
}

bool SingleInstance::claim()
{
    // Others may not look into the folder: the socket's name is all they would need.
    if (!QDir().mkpath(folder_) || ::chmod(QFile::encodeName(folder_).constData(), 0700) != 0) {
        LogError("appdelegate:instance folder %1 unusable", folder_);
        return true; // no folder to share: run alone rather than not at all
    }
    lock_ = std::make_unique<QLockFile>(folder_ + QLatin1Char('/') + LockName);
    lock_->setStaleLockTime(0); // stale only when its process is gone
    if (!lock_->tryLock(0)) {
        lock_.reset();
        return false;
    }
    // The lock is ours, so a socket left behind by a crash is stale.
    QLocalServer::removeServer(socketPath());
    if (!server_.listen(socketPath()))
        LogError("appdelegate:instance listen %1 failed: %2", socketPath(), server_.errorString());
    return true;
}

bool SingleInstance::send(const Message& message, int timeoutMs) const
{
    const QByteArray payload = encode(message);
    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The first instance may hold the lock a moment before it listens.
    while (true) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    socket.write(lengthPrefix(payload.size()) + payload);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    QByteArray answer;
    while (answer.size() < Answer.size() && socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    return answer == Answer;
}

QByteArray SingleInstance::encode(const Message& message)
{
    const QJsonObject object{{QStringLiteral("argv"), QJsonArray::fromStringList(message.argv)},
                             {QStringLiteral("cwd"), message.cwd},
                             {QStringLiteral("activationToken"), message.activationToken}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<SingleInstance::Message> SingleInstance::decode(const QByteArray& payload)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue argv = object.value(QStringLiteral("argv"));
    const QJsonValue cwd = object.value(QStringLiteral("cwd"));
    const QJsonValue token = object.value(QStringLiteral("activationToken"));
    if (!isStringArray(argv) || !cwd.isString() || !(token.isString() || token.isUndefined()))
        return std::nullopt;
    QStringList arguments;
    for (const QJsonValue& item : argv.toArray())
        arguments.append(item.toString());
    return Message{arguments, cwd.toString(), token.toString()};
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        readFrom(socket);
    }
}

void SingleInstance::readFrom(QLocalSocket* socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    if (buffer.size() < LengthSize) {
        socket->setProperty("buffer", buffer);
        return;
    }
    const qint64 length = qFromBigEndian<quint32>(buffer.constData());
    if (length > MaximumMessageSize) {
        LogError("appdelegate:instance message of %1 bytes dropped", length);
        socket->abort();
        return;
    }
    if (buffer.size() < LengthSize + length) {
        socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("buffer", QVariant());
    const std::optional<Message> message = decode(buffer.mid(LengthSize, length));
    if (!message) {
        LogError("appdelegate:instance message dropped: not one JSON object of argv, cwd and activationToken");
        socket->abort();
        return;
    }
    socket->write(Answer);
    socket->flush();
    socket->disconnectFromServer();
    emit messageReceived(*message);
}
