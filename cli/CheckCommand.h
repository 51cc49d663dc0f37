#pragma once

#include "report/ComplianceReport.h"

#include <QString>
#include <QStringList>

class ConsoleFrontEnd;
class DcpInspector;
class InterruptWatcher;

// Exit statuses of tavimor-check.
namespace ExitStatus {
enum : int {
    Passed = 0,       // every rule passed: the window would enable the report button
    Failed = 1,       // a rule failed, or the labels were refused
    Trouble = 2,      // usage error, or a file that cannot be read or written
    Unconfirmed = 3,  // every rule up to the label confirmation passed; no labels were given
    Interrupted = 130 // Ctrl-C, as shells report a process ended by SIGINT
};
}

// The headless check: reads the command line, runs one check run to its end and prints the check
// list. Needs a QGuiApplication (the report paints with fonts).
class CheckCommand
{
public:
    explicit CheckCommand(InterruptWatcher &interrupts);

    // Returns the exit status.
    int run(const QStringList &arguments);

private:
    struct Options
    {
        QString masterFolder;
        QString settingsPath;
        QString labelsPath;
        QString reportPath;
        bool json = false;
    };

    int parse(const QStringList &arguments, Options &options);
    int execute(const Options &options);
    // What the report must not overwrite or land in, as far as the command line tells.
    ReportGuard reportGuard(const Options &options) const;
    void printText(const ConsoleFrontEnd &frontEnd) const;
    void printJson(const ConsoleFrontEnd &frontEnd, const DcpInspector &inspector) const;
    // The settings file of the run: --settings, or set.ini in the working directory.
    static QString settingsPath(const Options &options);

    InterruptWatcher &m_interrupts;
};
