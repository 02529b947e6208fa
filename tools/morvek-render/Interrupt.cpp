// Interruption handling for morvek-render; see Interrupt.h.
#include "Interrupt.h"

#include "OutputFile.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#ifndef _WIN32
#include <pthread.h>
#include <thread>
#endif

namespace MorvekRender {

namespace {

struct Activity {
    std::mutex lock;
    std::string text;
    bool lineOpen = false;
};

Activity& activity() {
    static Activity* a = new Activity; // never destroyed: read during exit
    return *a;
}

const char* signalName(int sig) {
    switch (sig) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
#ifdef SIGHUP
    case SIGHUP:
        return "SIGHUP";
#endif
    default:
        return "a signal";
    }
}

[[noreturn]] void stop(int sig) {
    removeTemporaryFiles();
    {
        std::lock_guard<std::mutex> hold(activity().lock);
        std::fprintf(stderr, "%smorvek-render: interrupted by %s%s%s\n", activity().lineOpen ? "\n" : "",
                     signalName(sig), activity().text.empty() ? "" : " ", activity().text.c_str());
    }
    std::fflush(stderr);
    std::_Exit(128 + sig);
}

#ifdef _WIN32
extern "C" void onSignal(int sig) {
    stop(sig);
}
#endif

} // namespace

void installInterruptHandling() {
#ifdef _WIN32
    // The runtime calls the handler on a thread of its own.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#else
    sigset_t set;
    sigemptyset(&set);
    bool any = false;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaddset(&set, sig);
            any = true;
        }
    }
    if (!any) {
        return;
    }
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        int sig = 0;
        while (sigwait(&set, &sig) != 0) {
        }
        stop(sig);
    }).detach();
#endif
}

void setActivity(const std::string& text) {
    std::lock_guard<std::mutex> hold(activity().lock);
    activity().text = text;
}

void setProgressLineOpen(bool open) {
    std::lock_guard<std::mutex> hold(activity().lock);
    activity().lineOpen = open;
}

} // namespace MorvekRender
