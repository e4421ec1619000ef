// velkory serve --watch-stdin: a server that lives as long as the viewer it
// was started for (serve.h). A thread of its own reads standard input to its
// end; a process number written there first is then waited for; and the
// server is asked to stop as SIGTERM asks it, which RunServer's signal
// thread alone receives.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <pthread.h>

#include "host/os/os.h"
#include "host/serve/serve.h"

void ServeWhileInputLasts()
{
    // The thread takes no signal: SIGTERM is for the server's signal thread.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    std::thread([] {
        std::string input;
        char buffer[256];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, stdin)) > 0)
            if (input.size() < 64)
                input.append(buffer, got);
        // A process number alone on the first line, nothing else.
        size_t end = input.find('\n');
        std::string number = input.substr(0, end);
        if (!number.empty() && number.size() <= 10 &&
            number.find_first_not_of("0123456789") == std::string::npos && number[0] != '0')
            WaitUntilProcessEnds(strtoull(number.c_str(), nullptr, 10));
        RequestOwnTermination();
    }).detach();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}
