#pragma once

#include "Dispatch.h"

#include <QString>

#include <memory>

class PgConnection;

// The LISTEN connection of one client on its store's channel, watched by a
// read source on the client's queue. A notice wakes the client; after a lost
// connection it reconnects with back-off (1 s doubling to 60 s on the dispatch
// clock) and wakes the client once more, which then catches up.
class PostgresListener {
public:
    static constexpr double FirstRetry = 1.0;
    static constexpr double LastRetry = 60.0;

    // Starts listening at once; construct and destroy on the queue.
    PostgresListener(QString connectionString, QString applicationName, QString channel, DispatchQueuePtr queue,
                     DispatchBlock woken);
    ~PostgresListener();
    PostgresListener(const PostgresListener&) = delete;
    PostgresListener& operator=(const PostgresListener&) = delete;

private:
    bool listen();
    void read();
    void lost();
    void retry();

    QString connectionString_;
    QString applicationName_;
    QString channel_;
    DispatchQueuePtr queue_;
    DispatchBlock woken_;
    std::unique_ptr<PgConnection> connection_;
    std::unique_ptr<DispatchReadSource> source_;
    DispatchHandle retry_;
    double delay_ = FirstRetry;
};
