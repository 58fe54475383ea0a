#pragma once

#include <QLockFile>
#include <QLocalServer>
#include <QObject>
#include <QStringList>

#include <memory>
#include <optional>

// One running application per user. The first start holds a lock file and listens on a socket only
// the user can reach; a later start hands its arguments to it and ends. A message is a 4-byte
// big-endian length and one JSON object {argv, cwd, activationToken}; the answer is "ok".
class SingleInstance : public QObject {
    Q_OBJECT
public:
    struct Message {
        QStringList argv;
        QString cwd;
        QString activationToken;
        bool operator==(const Message&) const = default;
    };
    static constexpr qint64 MaximumMessageSize = 1024 * 1024;
    static constexpr int AnswerTimeoutMs = 2000;

    // $XDG_RUNTIME_DIR/brindlewick (else one under the temporary folder), created user-only.
    static QString defaultFolder();
    // This process's arguments, folder and activation token.
    static Message currentMessage();

    explicit SingleInstance(const QString& folder = defaultFolder(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the one instance and now listens; false when another one holds the lock.
    bool claim();
    // Hands the message to the instance that holds the lock; true once it answered "ok" in time.
    bool send(const Message& message, int timeoutMs = AnswerTimeoutMs) const;
    QString socketPath() const;

    static QByteArray encode(const Message& message);
    // The JSON payload without its length; nothing unless it is one object of the right fields.
    static std::optional<Message> decode(const QByteArray& payload);

signals:
    void messageReceived(const SingleInstance::Message& message);

private:
    void acceptConnections();
    void readFrom(QLocalSocket* socket);

    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};
