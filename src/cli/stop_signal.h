#pragma once

#include "base/stop.h"

// Requested by SIGINT, SIGTERM and SIGHUP (Ctrl-C and Ctrl-Break on
// Windows), as the dialog's Quit. A signal handler can only reach static
// storage: this is the program's one global stop, and every job watches it.
extern Stop signalStop;

// Installs the handlers; on POSIX systems this already happened before main.
void InstallSignalHandlers();
