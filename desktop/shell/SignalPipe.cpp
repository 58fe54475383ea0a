#include "SignalPipe.h"

#include "Log.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The newest pipe's writing end: the handler may touch nothing else.
std::atomic<int> writeEnd = -1;

void writeSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(writeEnd.load(), &number, 1);
    errno = saved;
}

} // namespace

SignalPipe::SignalPipe(std::initializer_list<int> numbers, QObject* parent) : QObject(parent), numbers_(numbers)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends_) != 0) {
        LogError("appdelegate:signals no pipe: %1", QString::fromLocal8Bit(std::strerror(errno)));
        ends_[0] = ends_[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(ends_[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalPipe::readPipe);
    writeEnd = ends_[0];
    struct sigaction action = {};
    action.sa_handler = writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : numbers)
        ::sigaction(signal, &action, nullptr);
}

SignalPipe::~SignalPipe()
{
    int mine = ends_[0];
    if (mine >= 0 && writeEnd.compare_exchange_strong(mine, -1)) {
        for (const int signal : std::as_const(numbers_))
            ::signal(signal, SIG_DFL);
    }
    notifier_.reset();
    for (const int end : ends_) {
        if (end >= 0)
            ::close(end);
    }
}

void SignalPipe::readPipe()
{
    unsigned char number = 0;
    while (::read(ends_[1], &number, 1) == 1)
        emit received(number);
}
