#include "cli/Terminal.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
volatile sig_atomic_t gInterrupted = 0;
int gWakeFds[2] = {-1, -1};

// Only async-signal-safe calls here: note the fact and wake the event loop through the pipe.
extern "C" void onInterrupt(int)
{
    gInterrupted = 1;
    if (gWakeFds[1] >= 0) {
        const char byte = 'i';
        [[maybe_unused]] const ssize_t written = ::write(gWakeFds[1], &byte, 1);
    }
}
} // namespace

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

int terminalColumns()
{
    struct winsize size = {};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void prepareConsoleOutput() {}

InterruptWatcher::InterruptWatcher(QObject *parent) : QObject(parent)
{
    if (::pipe(gWakeFds) == 0) {
        for (const int fd : gWakeFds) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
        auto *notifier = new QSocketNotifier(gWakeFds[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &InterruptWatcher::notify);
    }
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
}

InterruptWatcher::~InterruptWatcher()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    for (int &fd : gWakeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool InterruptWatcher::wasInterrupted() const
{
    return gInterrupted != 0;
}

void InterruptWatcher::notify()
{
    char buffer[16];
    while (::read(gWakeFds[0], buffer, sizeof buffer) > 0) {
    }
    emit interrupted();
}
