#include "image/AbortGuard.h"

#include <csetjmp>
#include <csignal>
#include <mutex>

namespace {

// Where an abort on this thread lands, while a guarded call runs.
thread_local sigjmp_buf* t_landing = nullptr;

struct sigaction g_previous;
std::once_flag g_installed;

void OnAbort(int signal, siginfo_t* info, void* context) {
    if (sigjmp_buf* landing = t_landing) {
        t_landing = nullptr;
        siglongjmp(*landing, 1);
    }
    // Not a guarded call: whatever handled the signal before (a sanitizer,
    // the default action) handles it now.
    if (g_previous.sa_flags & SA_SIGINFO) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    sigaction(SIGABRT, &g_previous, nullptr);
    raise(SIGABRT);
}

void Install() {
    struct sigaction action {};
    action.sa_sigaction = OnAbort;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGABRT, &action, &g_previous);
}

}  // namespace

bool quillon::CallSurvivingAbort(bool (*call)(void*), void* context, bool& result) {
    std::call_once(g_installed, Install);
    sigjmp_buf landing;
    sigjmp_buf* const outer = t_landing;
    if (sigsetjmp(landing, 1) != 0) {
        t_landing = outer;
        return false;
    }
    t_landing = &landing;
    result = call(context);
    t_landing = outer;
    return true;
}
