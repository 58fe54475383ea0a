#include "SignalPipe.h"

#include "Log.h"

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};

void writeSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &number, 1);
    errno = saved;
}

} // namespace

SignalPipe::SignalPipe(std::initializer_list<int> numbers, QObject* parent) : QObject(parent), numbers_(numbers)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0) {
        LogError("appdelegate:signals no pipe: %1", QString::fromLocal8Bit(strerror(errno)));
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalPipe::readPipe);
    struct sigaction action = {};
    action.sa_handler = writeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : numbers)
        ::sigaction(signal, &action, nullptr);
}

SignalPipe::~SignalPipe()
{
    for (const int signal : std::as_const(numbers_))
        ::signal(signal, SIG_DFL);
    notifier_.reset();
    for (int& end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void SignalPipe::readPipe()
{
    unsigned char number = 0;
    while (::read(pipeEnds[1], &number, 1) == 1)
        emit received(number);
}
