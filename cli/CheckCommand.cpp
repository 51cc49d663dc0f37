#include "cli/CheckCommand.h"

#include "cli/ConsoleFrontEnd.h"
#include "cli/ConsoleText.h"
#include "cli/LabelFile.h"
#include "cli/MasterCheck.h"
#include "cli/Terminal.h"
#include "dcp/DcpInspector.h"
#include "dcp/InputFiles.h"
#include "dcp/RunSettings.h"
#include "report/ComplianceReport.h"
#include "report/FontSetup.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace {
// The help text; the label keys come from the one list of label fields.
QString usageNotes()
{
    QStringList keys, startEmpty;
    for (const LabelField &field : labelFields()) {
        const QString key = QString::fromLatin1(field.key);
        keys << (field.member == &DcpInspector::vetDate ? key + QStringLiteral(" (yyyyMMdd)")
                                                        : key);
        if (field.startsEmpty)
            startEmpty << key;
    }
    const auto list = [](QStringList words) -> QString {
        const QString last = words.takeLast();
        return words.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
    };
    const QString labels =
        QStringLiteral("The labels file is the operator's confirmation: a [label] section with the "
                       "keys %1, one key=value per line. A value is taken as written (commas "
                       "included); quote it to keep blanks at its ends. An absent key keeps the "
                       "pre-filled value (%2 start empty). Without --labels the run stops where "
                       "the label dialog would open.")
            .arg(list(keys), list(startEmpty));
    // Wrapped as the other paragraphs are.
    QString wrapped, line;
    for (const QString &word : labels.split(QLatin1Char(' '))) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > 92) {
            wrapped += line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    wrapped += line;
    return QString::fromUtf8(
               "Checks a digital-cinema submission master and prints the 29-row check list.\n"
               "\n"
               "Without --master the attached USB disk is checked, carrier rules included. With "
               "--master\nthe folder stands for the disk root and the carrier rows read "
               "\"———\".\n\n"
               "With --each DIR every subfolder of DIR (hidden ones aside) is checked as --master "
               "checks\nit, in the order of the names: with --json one JSON object per line, each "
               "with the\nsubfolder's name as \"master\"; without it one table per master and a "
               "summary. --jobs N\nchecks up to N masters at once.\n\n") +
           wrapped +
           QStringLiteral(
               "\n\n"
               "Exit status: 0 every rule passed; 1 a rule failed or the labels were refused; 2 "
               "usage error\nor a file that cannot be read or written; 3 every rule up to the "
               "label confirmation passed\nand no --labels was given; 130 interrupted (Ctrl-C). "
               "With "
               "--each, the worst of the\nmasters' statuses: 2, then 1, then 3, then 0.");
}

void printError(const QString &message)
{
    writeErr(QStringLiteral("tavimor-check: %1\n").arg(message));
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// An existing folder, or false after saying what it is instead.
bool isFolderArgument(const QFileInfo &folder, const QString &what)
{
    if (!folder.exists()) {
        printError(QStringLiteral("%1 %2 does not exist").arg(what, nativePath(folder.filePath())));
        return false;
    }
    if (!folder.isDir()) {
        printError(QStringLiteral("%1 is not a folder").arg(nativePath(folder.filePath())));
        return false;
    }
    return true;
}

// Why the report cannot go to path, for the operator; empty when it can.
QString reportPathMessage(const QString &path, ReportPathProblem problem)
{
    const QString where = nativePath(path);
    switch (problem) {
    case ReportPathProblem::None:
        break;
    case ReportPathProblem::FolderMissing:
        return QStringLiteral("the report's folder %1 does not exist")
            .arg(nativePath(QFileInfo(path).absolutePath()));
    case ReportPathProblem::NotRegularFile: {
        const QFileInfo info(path);
        const QString what = info.isSymLink() ? QStringLiteral("a symbolic link")
                             : info.isDir()   ? QStringLiteral("a folder")
                                              : QStringLiteral("a device, pipe or socket");
        return QStringLiteral("the report path %1 is %2; the report replaces nothing but an "
                              "earlier report, and only in a regular file")
            .arg(where, what);
    }
    case ReportPathProblem::InsideMaster:
        return QStringLiteral("the report path %1 lies inside the master being checked; the "
                              "report is never written into a master")
            .arg(where);
    case ReportPathProblem::InputFile:
        return QStringLiteral("the report path %1 is the settings or labels file of this run")
            .arg(where);
    case ReportPathProblem::NotAReport:
        return QStringLiteral("%1 exists and is not a compliance report; the report replaces "
                              "nothing but an earlier report")
            .arg(where);
    }
    return QString();
}

// The subfolders of a shelf that are checked, in the order of their names' characters (the same
// on every system and in every locale). Hidden folders are no masters.
QStringList shelfMasters(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(names.begin(), names.end());
    return names;
}

QString verdictText(int status)
{
    switch (status) {
    case ExitStatus::Passed:
        return QStringLiteral("passed");
    case ExitStatus::Failed:
        return QStringLiteral("failed");
    case ExitStatus::Unconfirmed:
        return QStringLiteral("unconfirmed");
    default:
        return QStringLiteral("error");
    }
}

// One line on standard error for the masters being checked at once, each with its place on the
// shelf: "[2/5] ECL01  43.12%  120 MB/s  3 min left". Drawn only on a terminal, and never wider
// than it: a line that wraps cannot be drawn over.
class ShelfProgress
{
public:
    ShelfProgress(bool show, int total) : m_show(show), m_total(total) {}

    void set(int index, const QString &name, const QString &text)
    {
        m_entries[index] = Entry{name, text};
        draw();
    }
    void remove(int index)
    {
        m_entries.remove(index);
        clear();
    }
    // Called before standard output is written, which shares the terminal.
    void clear()
    {
        if (!m_show || m_width == 0)
            return;
        writeErr(QLatin1Char('\r') + QString(m_width, QLatin1Char(' ')) + QLatin1Char('\r'));
        m_width = 0;
    }

private:
    struct Entry
    {
        QString name, text;
    };

    void draw()
    {
        if (!m_show || m_entries.isEmpty())
            return;
        const QString gap = QStringLiteral("   ");
        const int columns = terminalColumns() > 0 ? terminalColumns() : 80;
        // The last column is left free: some terminals wrap as soon as it is written.
        const int share =
            (columns - 1 - displayWidth(gap) * (m_entries.size() - 1)) / m_entries.size();
        QStringList parts;
        for (auto entry = m_entries.cbegin(); entry != m_entries.cend(); ++entry) {
            const QString place = QStringLiteral("[%1/%2] ").arg(entry.key() + 1).arg(m_total);
            // The name gives way first, then the rate: the percentage says most.
            QString text = entry->text;
            const auto room = [&] {
                return share - displayWidth(place) - (text.isEmpty() ? 0 : 2 + displayWidth(text));
            };
            if (room() < 8)
                text = text.section(QStringLiteral("  "), 0, 0);
            const QString name = elideToWidth(entry->name, qMax(room(), 8));
            parts << elideToWidth(
                place + name + (text.isEmpty() ? QString() : QStringLiteral("  ") + text), share);
        }
        const QString line = parts.join(gap);
        writeErr(QLatin1Char('\r') + padToWidth(line, m_width));
        m_width = qMax(m_width, displayWidth(line));
    }

    bool m_show;
    int m_total;
    int m_width = 0;
    QMap<int, Entry> m_entries; // by place on the shelf
};
} // namespace

int worseStatus(int a, int b)
{
    const auto rank = [](int status) {
        switch (status) {
        case ExitStatus::Passed:
            return 0;
        case ExitStatus::Unconfirmed:
            return 1;
        case ExitStatus::Failed:
            return 2;
        default:
            return 3;
        }
    };
    return rank(a) >= rank(b) ? a : b;
}

CheckCommand::CheckCommand(InterruptWatcher &interrupts) : m_interrupts(interrupts) {}

int CheckCommand::run(const QStringList &arguments)
{
    Options options;
    const int status = parse(arguments, options);
    if (status != ExitStatus::Passed)
        return status;
    return execute(options);
}

int CheckCommand::parse(const QStringList &arguments, Options &options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(usageNotes());
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption masterOption(
        QStringLiteral("master"),
        QStringLiteral("Check the master in folder DIR instead of the attached disk."),
        QStringLiteral("DIR"));
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("Read FILE instead of set.ini in the working directory."),
        QStringLiteral("FILE"));
    const QCommandLineOption labelsOption(
        QStringLiteral("labels"),
        QStringLiteral("Confirm the label information from the INI file FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        QStringLiteral("Print one JSON object instead of the table (one line per master with "
                       "--each)."));
    const QCommandLineOption reportOption(
        QStringLiteral("report"),
        QStringLiteral("After a run that passed every rule, write the PDF report to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption eachOption(
        QStringLiteral("each"),
        QStringLiteral("Check every subfolder of DIR as a master, as --master does."),
        QStringLiteral("DIR"));
    const QCommandLineOption jobsOption(
        QStringLiteral("jobs"),
        QStringLiteral("With --each, check up to N masters at once (default 1)."),
        QStringLiteral("N"));
    parser.addOptions({masterOption, settingsOption, labelsOption, jsonOption, reportOption,
                       eachOption, jobsOption});

    if (!parser.parse(arguments)) {
        printError(parser.errorText() + QStringLiteral(" (see --help)"));
        return ExitStatus::Trouble;
    }
    // Printed here rather than by the parser, which shows a message box on Windows when the
    // process has no console of its own.
    if (parser.isSet(helpOption)) {
        writeOut(parser.helpText());
        std::exit(ExitStatus::Passed);
    }
    if (parser.isSet(versionOption)) {
        writeOut(QCoreApplication::applicationName() + QLatin1Char(' ') +
                 QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        std::exit(ExitStatus::Passed);
    }
    if (!parser.positionalArguments().isEmpty()) {
        printError(QStringLiteral("unexpected argument \"%1\" (see --help)")
                       .arg(parser.positionalArguments().constFirst()));
        return ExitStatus::Trouble;
    }
    for (const QCommandLineOption &option :
         {masterOption, settingsOption, labelsOption, reportOption, eachOption, jobsOption}) {
        if (parser.values(option).size() > 1) {
            printError(
                QStringLiteral("--%1 given more than once").arg(option.names().constFirst()));
            return ExitStatus::Trouble;
        }
    }

    options.json = parser.isSet(jsonOption);

    if (parser.isSet(eachOption)) {
        // One report is one master's; the shelf's masters are its subfolders.
        for (const QCommandLineOption &option : {masterOption, reportOption}) {
            if (parser.isSet(option)) {
                printError(QStringLiteral("--%1 cannot be combined with --each")
                               .arg(option.names().constFirst()));
                return ExitStatus::Trouble;
            }
        }
        const QFileInfo shelf(parser.value(eachOption));
        if (!isFolderArgument(shelf, QStringLiteral("the folder")))
            return ExitStatus::Trouble;
        options.shelfFolder = shelf.absoluteFilePath();
        options.shelfMasters = shelfMasters(options.shelfFolder);
        if (options.shelfMasters.isEmpty()) {
            printError(QStringLiteral("the folder %1 holds no folder to check")
                           .arg(nativePath(shelf.filePath())));
            return ExitStatus::Trouble;
        }
    }
    if (parser.isSet(jobsOption)) {
        bool isNumber = false;
        options.jobs = parser.value(jobsOption).toInt(&isNumber);
        if (!parser.isSet(eachOption)) {
            printError(QStringLiteral("--jobs needs --each"));
            return ExitStatus::Trouble;
        }
        if (!isNumber || options.jobs < 1) {
            printError(QStringLiteral("--jobs needs a whole number of at least 1, not \"%1\"")
                           .arg(parser.value(jobsOption)));
            return ExitStatus::Trouble;
        }
    }

    if (parser.isSet(masterOption)) {
        const QFileInfo master(parser.value(masterOption));
        if (!isFolderArgument(master, QStringLiteral("the master folder")))
            return ExitStatus::Trouble;
        options.masterFolder = master.absoluteFilePath();
    }

    // A set.ini in the working directory is held to the same rules as a file named here.
    const QString settingsPath =
        parser.isSet(settingsOption) ? parser.value(settingsOption) : defaultSettingsPath();
    const QFileInfo settings(settingsPath);
    if (parser.isSet(settingsOption) || settings.exists() || settings.isSymLink()) {
        const InputFile file = readInputFile(settingsPath);
        if (file.problem != InputFileProblem::None) {
            printError(QStringLiteral("cannot read the settings file %1: %2")
                           .arg(nativePath(settingsPath), file.reason));
            return ExitStatus::Trouble;
        }
    }
    if (parser.isSet(settingsOption))
        options.settingsPath = settings.absoluteFilePath();

    if (parser.isSet(labelsOption))
        options.labelsPath = parser.value(labelsOption);

    if (parser.isSet(reportOption)) {
        // Found out now rather than after hours of hashing; looked at again before writing.
        // As written: ".." after a link is the file system's business, as for any other tool.
        options.reportPath = parser.value(reportOption);
        if (options.reportPath.isEmpty()) {
            printError(QStringLiteral("--report needs a file name"));
            return ExitStatus::Trouble;
        }
        const QString problem = reportPathMessage(
            options.reportPath, reportPathProblem(options.reportPath, reportGuard(options)));
        if (!problem.isEmpty()) {
            printError(problem);
            return ExitStatus::Trouble;
        }
    }
    return ExitStatus::Passed;
}

QString CheckCommand::settingsPath(const Options &options)
{
    return options.settingsPath.isEmpty() ? defaultSettingsPath() : options.settingsPath;
}

ReportGuard CheckCommand::reportGuard(const Options &options) const
{
    ReportGuard guard;
    if (!options.masterFolder.isEmpty())
        guard.masterRoots << options.masterFolder;
    guard.inputFiles << settingsPath(options);
    if (!options.labelsPath.isEmpty())
        guard.inputFiles << options.labelsPath;
    return guard;
}

int CheckCommand::execute(const Options &options)
{
    std::unique_ptr<LabelInput> labels;
    if (!options.labelsPath.isEmpty()) {
        labels.reset(new LabelInput);
        QString message;
        if (!readLabelFile(options.labelsPath, *labels, message)) {
            printError(message);
            return ExitStatus::Trouble;
        }
        for (const QString &key : qAsConst(labels->ignoredKeys))
            printError(
                QStringLiteral(
                    "note: the labels file's key %1 is not one of the label keys and is ignored")
                    .arg(key));
    }
    return options.shelfFolder.isEmpty() ? executeOne(options, labels.get())
                                         : executeEach(options, labels.get());
}

void CheckCommand::noteSettings(const RunSettings &read)
{
    if (m_settingsNoted)
        return;
    m_settingsNoted = true;
    if (!QFileInfo(read.path).isFile()) {
        printError(QStringLiteral("note: no set.ini in the working directory %1: hash "
                                  "verification is off and no screening device is approved")
                       .arg(nativePath(QDir::currentPath())));
    } else if (read.knownKeys.isEmpty()) {
        // A PDF, a UTF-16 file or a binary reads as an empty settings file.
        printError(
            QStringLiteral("warning: the settings file %1 holds none of the keys hash/check, "
                           "cert_num/num, cert_list/cert0...: hash verification is off and "
                           "no screening device is approved (is it an INI file saved as "
                           "UTF-8 or GBK text?)")
                .arg(nativePath(QFileInfo(read.path).absoluteFilePath())));
    }
}

void CheckCommand::printInterrupted()
{
    printError(QStringLiteral("interrupted; nothing was judged after the interruption"));
}

namespace {
void printNotes(bool hashSkipped, bool unconfirmed)
{
    if (hashSkipped)
        printError(QStringLiteral("note: hash verification was off (hash/check is 0 or missing in "
                                  "the settings file): no asset's SHA-1 digest was checked"));
    if (unconfirmed)
        printError(
            QStringLiteral("every rule up to the label confirmation passed; give --labels FILE to "
                           "confirm the label information and finish the check"));
}
} // namespace

int CheckCommand::executeOne(const Options &options, const LabelInput *labels)
{
    MasterCheck check(options.masterFolder, settingsPath(options), labels, stderrIsTerminal(),
                      [this] { return m_interrupts.wasInterrupted(); });
    // Told when the run has read its settings, before any rule: from what the run itself read.
    QObject::connect(&check.frontEnd(), &ConsoleFrontEnd::settingsWereRead,
                     [this](const RunSettings &read) { noteSettings(read); });

    QEventLoop loop;
    QObject::connect(&check.frontEnd(), &ConsoleFrontEnd::ended, &loop, &QEventLoop::quit);
    QObject::connect(&m_interrupts, &InterruptWatcher::interrupted, &loop, [&check, &loop] {
        check.stop();
        loop.quit();
    });

    check.start();
    // Hashing goes on in a worker; its messages arrive through the event loop.
    if (!check.hasEnded() && !m_interrupts.wasInterrupted())
        loop.exec();

    if (m_interrupts.wasInterrupted()) {
        check.stop();
        printInterrupted();
        return ExitStatus::Interrupted;
    }

    const MasterResult result = check.result();
    writeOut(options.json
                 ? QString::fromUtf8(QJsonDocument(result.json).toJson(QJsonDocument::Indented))
                 : result.table);
    printNotes(result.hashSkipped, result.status == ExitStatus::Unconfirmed);

    if (!options.reportPath.isEmpty()) {
        if (result.status != ExitStatus::Passed || !check.frontEnd().reportEnabled()) {
            printError(
                QStringLiteral("the report was not written: the run did not pass every rule"));
        } else {
            installCjkFontSubstitutions();
            QString message;
            if (!writeComplianceReport(options.reportPath, check.frontEnd().cellTexts(),
                                       check.inspector(), &message, reportGuard(options))) {
                printError(message.isEmpty() ? QStringLiteral("cannot write the report %1")
                                                   .arg(nativePath(options.reportPath))
                                             : message);
                return ExitStatus::Trouble;
            }
            printError(QStringLiteral("report written to %1").arg(nativePath(options.reportPath)));
        }
    }
    return result.status;
}

int CheckCommand::executeEach(const Options &options, const LabelInput *labels)
{
    const QStringList &names = options.shelfMasters;
    const int count = names.size();
    const QString settingsFile = settingsPath(options);
    std::vector<std::unique_ptr<MasterCheck>> checks(count);
    std::vector<std::optional<MasterResult>> results(count);
    int started = 0, printed = 0, running = 0;
    bool done = false;
    ShelfProgress progress(stderrIsTerminal(), count);
    QEventLoop loop;
    const auto interrupted = [this] { return m_interrupts.wasInterrupted(); };

    const auto print = [&](int index) {
        const MasterResult &result = *results[index];
        progress.clear();
        if (options.json) {
            QJsonObject json = result.json;
            json.insert(QStringLiteral("master"), names.at(index));
            // What the exit status would be for this master alone.
            json.insert(QStringLiteral("status"), result.status);
            writeOut(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) +
                     QLatin1Char('\n'));
        } else {
            writeOut(names.at(index) + QLatin1Char('\n') + result.table + QLatin1Char('\n'));
        }
    };

    // Prints what has ended in the order of the shelf, and starts masters while fewer than the
    // jobs run. Never called from inside a run, so ended runs can be let go of here.
    std::function<void()> pump = [&] {
        while (!interrupted()) {
            for (int index = 0; index < started; ++index) {
                if (results[index] && checks[index])
                    checks[index].reset();
            }
            if (printed < count && results[printed]) {
                print(printed++);
                continue;
            }
            if (printed == count) {
                done = true;
                loop.quit();
                return;
            }
            if (running >= options.jobs || started == count)
                return;
            const int index = started++;
            ++running;
            checks[index].reset(new MasterCheck(QDir(options.shelfFolder).filePath(names.at(index)),
                                                settingsFile, labels, false, interrupted));
            ConsoleFrontEnd &frontEnd = checks[index]->frontEnd();
            QObject::connect(&frontEnd, &ConsoleFrontEnd::settingsWereRead,
                             [this](const RunSettings &read) { noteSettings(read); });
            QObject::connect(
                &frontEnd, &ConsoleFrontEnd::progressed,
                [&, index](const QString &text) { progress.set(index, names.at(index), text); });
            QObject::connect(&frontEnd, &ConsoleFrontEnd::ended, [&, index] {
                --running;
                progress.remove(index);
                // A run stopped by Ctrl-C reached no verdict.
                if (interrupted())
                    return;
                results[index] = checks[index]->result();
                QMetaObject::invokeMethod(&loop, pump, Qt::QueuedConnection);
            });
            progress.set(index, names.at(index), QString());
            // The first stage runs here, on this thread; hashing goes on in a worker.
            checks[index]->start();
        }
    };
    QObject::connect(&m_interrupts, &InterruptWatcher::interrupted, &loop, [&] {
        for (const std::unique_ptr<MasterCheck> &check : checks) {
            if (check)
                check->stop();
        }
        loop.quit();
    });

    pump();
    if (!done && !interrupted())
        loop.exec();

    if (interrupted()) {
        for (const std::unique_ptr<MasterCheck> &check : checks) {
            if (check)
                check->stop();
        }
        progress.clear();
        printInterrupted();
        return ExitStatus::Interrupted;
    }

    int status = ExitStatus::Passed;
    bool hashSkipped = false;
    QVector<QStringList> summary{
        {QStringLiteral("master"), QStringLiteral("verdict"), QStringLiteral("first failure")}};
    for (int index = 0; index < count; ++index) {
        const MasterResult &result = *results[index];
        status = worseStatus(status, result.status);
        hashSkipped = hashSkipped || result.hashSkipped;
        summary.append({names.at(index), verdictText(result.status), result.firstFailure});
    }
    if (!options.json)
        writeOut(formatTable(summary));
    printNotes(hashSkipped, std::any_of(results.cbegin(), results.cend(), [](const auto &result) {
                   return result->status == ExitStatus::Unconfirmed;
               }));
    return status;
}
