#include "cli/Terminal.h"

#include <QMetaObject>

#include <atomic>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

namespace {
std::atomic<bool> gInterrupted{false};
std::atomic<InterruptWatcher *> gWatcher{nullptr};

// Runs on a thread of its own that the system starts for the console event; the watcher's slot
// is reached through a queued call, which is safe across threads.
BOOL WINAPI onConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (gInterrupted.exchange(true))
        return FALSE; // the second one: let the system end the process
    if (InterruptWatcher *watcher = gWatcher.load())
        QMetaObject::invokeMethod(watcher, "notify", Qt::QueuedConnection);
    return TRUE;
}
} // namespace

bool stderrIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

int terminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void prepareConsoleOutput()
{
    SetConsoleOutputCP(CP_UTF8);
    // The text is written as UTF-8 bytes with "\n" line ends, as on Linux; text mode would turn
    // each into "\r\n" on the way to a file or pipe.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

InterruptWatcher::InterruptWatcher(QObject *parent) : QObject(parent)
{
    gWatcher = this;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

InterruptWatcher::~InterruptWatcher()
{
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    gWatcher = nullptr;
}

bool InterruptWatcher::wasInterrupted() const
{
    return gInterrupted.load();
}

void InterruptWatcher::notify()
{
    emit interrupted();
}
