#pragma once

#include <QObject>

// Console services that differ between systems (Terminal_unix.cpp, Terminal_win.cpp).

// True when standard error is an interactive terminal, where a progress line may be rewritten.
bool stderrIsTerminal();

// The width of the terminal on standard error in columns; 0 when it is no terminal or unknown.
int terminalColumns();

// Makes the console show the UTF-8 text that the checker writes.
void prepareConsoleOutput();

// Turns the first Ctrl-C into the signal interrupted(), delivered on the thread that created the
// watcher once its event loop runs. A second Ctrl-C ends the process the usual way, so a stuck
// stop can still be broken off. One watcher per process.
class InterruptWatcher : public QObject
{
    Q_OBJECT
public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

    // Also true for a Ctrl-C that came while the event loop was not running.
    bool wasInterrupted() const;

signals:
    void interrupted();

private slots:
    void notify();
};
