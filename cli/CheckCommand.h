#pragma once

#include "report/ComplianceReport.h"

#include <QString>
#include <QStringList>

class InterruptWatcher;
struct LabelInput;
struct MasterResult;
struct RunSettings;

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

// The headless check: reads the command line, runs one check run to its end, or one for each master
// of a shelf, and prints the check lists. Needs a QGuiApplication (the report paints with fonts).
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
        QString shelfFolder;      // --each
        QStringList shelfMasters; // its subfolders' names, in the order they are checked
        int jobs = 1;
        bool json = false;
    };

    int parse(const QStringList &arguments, Options &options);
    int execute(const Options &options);
    int executeOne(const Options &options, const LabelInput *labels);
    int executeEach(const Options &options, const LabelInput *labels);
    // Said once per process, however many runs read the settings.
    void noteSettings(const RunSettings &read);
    void printInterrupted();
    // What the report must not overwrite or land in, as far as the command line tells.
    ReportGuard reportGuard(const Options &options) const;
    // The settings file of the run: --settings, or set.ini in the working directory.
    static QString settingsPath(const Options &options);

    InterruptWatcher &m_interrupts;
    bool m_settingsNoted = false;
};

// The worst of two exit statuses: trouble, then a failure, then an unconfirmed run, then a pass.
int worseStatus(int a, int b);
