#include "PostgresListener.h"

#include "ConsoleLog.h"
#include "PgConnection.h"

#include <libpq-fe.h>

PostgresListener::PostgresListener(QString connectionString, QString applicationName, QString channel,
                                   DispatchQueuePtr queue, DispatchBlock woken)
    : connectionString_(std::move(connectionString))
    , applicationName_(std::move(applicationName))
    , channel_(std::move(channel))
    , queue_(std::move(queue))
    , woken_(std::move(woken))
{
    if (!listen())
        lost();
}

PostgresListener::~PostgresListener()
{
    retry_.cancel();
    source_.reset();
}

bool PostgresListener::listen()
{
    Error error;
    connection_ = PgConnection::connect(connectionString_, applicationName_, &error);
    if (!connection_) {
        consoleLog(QStringLiteral("record store: push listener cannot connect: %1").arg(error.localizedDescription()));
        return false;
    }
    const PgResult result = connection_->exec(QStringLiteral("LISTEN ") + connection_->quoted(channel_));
    if (!result.ok()) {
        consoleLog(QStringLiteral("record store: LISTEN failed: %1").arg(result.message()));
        return false;
    }
    delay_ = FirstRetry;
    source_ = std::make_unique<DispatchReadSource>(connection_->socket(), queue_, [this] { read(); });
    return true;
}

void PostgresListener::read()
{
    pg_conn* conn = connection_->handle();
    const bool readable = PQconsumeInput(conn);
    bool wake = false;
    while (PGnotify* notice = PQnotifies(conn)) {
        bool isNumber = false;
        QByteArray(notice->extra).toLongLong(&isNumber);
        if (isNumber)
            wake = true;
        else
            consoleLog(QStringLiteral("record store: ignored a notice on %1 that is no sequence number: \"%2\"")
                           .arg(channel_, QString::fromUtf8(notice->extra).left(80)));
        PQfreemem(notice);
    }
    if (!readable || connection_->isLost())
        return lost();
    if (wake)
        woken_();
}

void PostgresListener::lost()
{
    source_.reset();
    connection_.reset();
    retry_ = queue_->after(delay_, [this] { retry(); });
    delay_ = std::min(delay_ * 2, LastRetry);
}

void PostgresListener::retry()
{
    if (!listen())
        return lost();
    woken_(); // what was committed while nobody listened
}
