#include "download/GuardedCopy.h"

#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>

namespace vantorel::download {
namespace {

// Where the copy running on this thread resumes after a bus error; null outside a guarded copy.
// A plain pointer with no initialiser, so the handler can read it.
thread_local sigjmp_buf* resumeAt = nullptr;

void onBusError(int signal, siginfo_t*, void*) {
    if (sigjmp_buf* jump = resumeAt)
        siglongjmp(*jump, 1);
    // Not a guarded copy: die of the signal as the program would have without this handler.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

bool installHandler() {
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    // SA_NODEFER leaves SIGBUS unblocked while the handler runs, so jumping out of it with
    // sigsetjmp(…, 0), which skips saving and restoring the signal mask, leaves the mask as it
    // was: the copy stays cheap and the next bus error is caught too.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, nullptr) == 0;
}

} // namespace

bool guardedCopy(void* dst, const void* src, std::size_t n) {
    // The process-wide handler is installed once, on first use; it changes nothing for code
    // that is not inside a guarded copy.
    static const bool installed = installHandler();
    if (!installed) {
        std::memcpy(dst, src, n);
        return true;
    }
    sigjmp_buf jump;
    if (sigsetjmp(jump, 0) != 0) {
        resumeAt = nullptr;
        return false;
    }
    resumeAt = &jump;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(dst, src, n);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    resumeAt = nullptr;
    return true;
}

} // namespace vantorel::download
