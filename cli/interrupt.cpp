#include "cli/interrupt.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
volatile std::sig_atomic_t g_requested = 0;   // the first signal's number
#ifdef Q_OS_UNIX
int g_pipe[2] = {-1, -1};

void onSignal(int signal)
{
    if (!g_requested)
        g_requested = signal;
    const char byte = 1;
    // Nothing to do about a full pipe: one byte waiting is enough.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
}
#endif
} // namespace

InterruptWatch::InterruptWatch(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::pipe(g_pipe) != 0)
        return;
    for (const int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        emit interrupted();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
#endif
}

InterruptWatch::~InterruptWatch()
{
#ifdef Q_OS_UNIX
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    for (int &fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
#endif
}

bool InterruptWatch::requested()
{
    return g_requested != 0;
}

int InterruptWatch::signalNumber()
{
    return int(g_requested);
}
