#pragma once

#include <atomic>

// Set by SIGINT, SIGTERM and SIGHUP (Ctrl-C and Ctrl-Break on Windows): a
// stop request, as the dialog's Quit. A signal handler can only reach a
// static flag, and a lock-free atomic one at that.
extern std::atomic<bool> stopRequested;
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only use a lock-free flag");

// Installs the handlers; on POSIX systems this already happened before main.
void InstallSignalHandlers();
