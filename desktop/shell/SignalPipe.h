#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <QList>

#include <memory>

// Turns SIGTERM and SIGINT into a Qt signal on the main thread: the handler only writes the
// signal's number into a pipe, which the event loop reads.
class SignalPipe : public QObject {
    Q_OBJECT
public:
    // One at a time; installs the handlers for the signals given, and puts the default ones back when it goes.
    explicit SignalPipe(std::initializer_list<int> numbers, QObject* parent = nullptr);
    ~SignalPipe() override;

signals:
    void received(int signal);

private:
    void readPipe();

    QList<int> numbers_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
