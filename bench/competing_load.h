#pragma once

// "--load" on a benchmark's command line: two busy processes compete for the
// benchmark's cores for as long as it runs, the busy machine the store's
// figures are taken on ("taskset -c 0,1 bench_search 50000 --load"). They
// inherit the benchmark's cores and end with it.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace CompetingLoad {

inline std::vector<pid_t>& children()
{
    static std::vector<pid_t> pids;
    return pids;
}

inline void stop()
{
    for (const pid_t pid : children()) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    children().clear();
}

// Takes "--load" out of the arguments and, when it was there, starts the processes.
inline void startFromArguments(int& argc, char** argv)
{
    bool wanted = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0)
            wanted = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    if (!wanted)
        return;
    const pid_t parent = ::getpid();
    for (int i = 0; i < 2; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Ends with the benchmark even when it is killed.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(0);
            volatile unsigned long spin = 0;
            for (;;)
                spin = spin + 1;
        }
        if (pid > 0)
            children().push_back(pid);
    }
    std::atexit(stop);
}

} // namespace CompetingLoad
