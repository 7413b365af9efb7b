#include "cli/stop_signal.h"

#include <csignal>

constinit Stop signalStop;

namespace {

extern "C" void OnStopSignal(int signal)
{
    signalStop.Request();
    std::signal(signal, OnStopSignal);  // Windows resets the handler on delivery
}

}  // namespace

// Before anything that can take time, ahead of main and of every other
// static initialiser: a stop that comes early still finds its handler. A
// closed reader of standard output is a failed write, not the end of the
// process.
#ifndef _WIN32
__attribute__((constructor(101)))
#endif
void InstallSignalHandlers()
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#ifndef _WIN32
    std::signal(SIGHUP, OnStopSignal);  // a closed terminal or session
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);  // a file-size limit fails the write, leaving a finished file
#endif
}
