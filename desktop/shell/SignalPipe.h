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
    // Installs the handlers for the signals given; the newest pipe gets them. The default handlers
    // come back when that one goes.
    explicit SignalPipe(std::initializer_list<int> numbers, QObject* parent = nullptr);
    ~SignalPipe() override;

signals:
    void received(int signal);

private:
    void readPipe();

    QList<int> numbers_;
    int ends_[2] = {-1, -1}; // written by the handler, read here
    std::unique_ptr<QSocketNotifier> notifier_;
};
