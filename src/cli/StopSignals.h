#pragma once
// Ctrl-C, kill and a closed terminal, taken as a request to stop rather than a sudden death.

#include <signal.h>

namespace vantorel::cli {

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread it starts
// afterwards, and returns that set: one thread then takes them with sigwait or sigtimedwait and
// stops the job in order. Call it before any thread starts.
sigset_t blockStopSignals();

} // namespace vantorel::cli
