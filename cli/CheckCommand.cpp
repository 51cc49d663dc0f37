#include "cli/CheckCommand.h"

#include "cli/ConsoleFrontEnd.h"
#include "cli/ConsoleText.h"
#include "cli/LabelFile.h"
#include "cli/Terminal.h"
#include "dcp/DcpInspector.h"
#include "dcp/InputFiles.h"
#include "dcp/RunSettings.h"
#include "platform/VolumeService.h"
#include "report/ComplianceReport.h"
#include "report/FontSetup.h"
#include "run/CheckRun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <memory>

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
               "\"———\".\n\n") +
           wrapped +
           QStringLiteral(
               "\n\n"
               "Exit status: 0 every rule passed; 1 a rule failed or the labels were refused; 2 "
               "usage error\nor a file that cannot be read or written; 3 every rule up to the "
               "label confirmation passed\nand no --labels was given; 130 interrupted (Ctrl-C).");
}

void printError(const QString &message)
{
    writeErr(QStringLiteral("tavimor-check: %1\n").arg(message));
}

QString nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path);
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

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}
} // namespace

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
        QStringLiteral("json"), QStringLiteral("Print one JSON object instead of the table."));
    const QCommandLineOption reportOption(
        QStringLiteral("report"),
        QStringLiteral("After a run that passed every rule, write the PDF report to FILE."),
        QStringLiteral("FILE"));
    parser.addOptions({masterOption, settingsOption, labelsOption, jsonOption, reportOption});

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
         {masterOption, settingsOption, labelsOption, reportOption}) {
        if (parser.values(option).size() > 1) {
            printError(
                QStringLiteral("--%1 given more than once").arg(option.names().constFirst()));
            return ExitStatus::Trouble;
        }
    }

    options.json = parser.isSet(jsonOption);

    if (parser.isSet(masterOption)) {
        const QFileInfo master(parser.value(masterOption));
        if (!master.exists()) {
            printError(QStringLiteral("the master folder %1 does not exist")
                           .arg(nativePath(master.filePath())));
            return ExitStatus::Trouble;
        }
        if (!master.isDir()) {
            printError(QStringLiteral("%1 is not a folder").arg(nativePath(master.filePath())));
            return ExitStatus::Trouble;
        }
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

    const QString settingsFile = settingsPath(options);
    const std::unique_ptr<VolumeService> volumes = createSystemVolumeService();
    DcpInspector inspector;
    inspector.volumes = volumes.get();
    inspector.stopRequested = [this] { return m_interrupts.wasInterrupted(); };
    ConsoleFrontEnd frontEnd(labels.get(), stderrIsTerminal());
    // Told when the run has read its settings, before any rule: from what the run itself read.
    QObject::connect(&frontEnd, &ConsoleFrontEnd::settingsWereRead, [](const RunSettings &read) {
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
    });
    CheckRun run(inspector, frontEnd);
    run.setSettingsPath(settingsFile);
    if (!options.masterFolder.isEmpty())
        run.setMasterFolder(options.masterFolder);

    QEventLoop loop;
    QObject::connect(&frontEnd, &ConsoleFrontEnd::ended, &loop, &QEventLoop::quit);
    QObject::connect(&m_interrupts, &InterruptWatcher::interrupted, &loop, [&run, &loop] {
        run.stopWorker();
        loop.quit();
    });

    run.start();
    // Hashing goes on in a worker; its messages arrive through the event loop.
    if (!frontEnd.hasEnded() && !m_interrupts.wasInterrupted())
        loop.exec();

    if (m_interrupts.wasInterrupted()) {
        run.stopWorker();
        frontEnd.clearProgress();
        printError(QStringLiteral("interrupted; nothing was judged after the interruption"));
        return ExitStatus::Interrupted;
    }

    if (options.json)
        printJson(frontEnd, inspector);
    else
        printText(frontEnd);
    if (frontEnd.hashSkipped())
        printError(QStringLiteral("note: hash verification was off (hash/check is 0 or missing in "
                                  "the settings file): no asset's SHA-1 digest was checked"));

    int status = ExitStatus::Failed;
    if (frontEnd.passed())
        status = ExitStatus::Passed;
    else if (frontEnd.reachedConfirmation() && !labels)
        status = ExitStatus::Unconfirmed;

    if (status == ExitStatus::Unconfirmed)
        printError(
            QStringLiteral("every rule up to the label confirmation passed; give --labels FILE to "
                           "confirm the label information and finish the check"));

    if (!options.reportPath.isEmpty()) {
        if (status != ExitStatus::Passed || !frontEnd.reportEnabled()) {
            printError(
                QStringLiteral("the report was not written: the run did not pass every rule"));
        } else {
            installCjkFontSubstitutions();
            QString message;
            if (!writeComplianceReport(options.reportPath, frontEnd.cellTexts(), inspector,
                                       &message, reportGuard(options))) {
                printError(message.isEmpty() ? QStringLiteral("cannot write the report %1")
                                                   .arg(nativePath(options.reportPath))
                                             : message);
                return ExitStatus::Trouble;
            }
            printError(QStringLiteral("report written to %1").arg(nativePath(options.reportPath)));
        }
    }
    return status;
}

void CheckCommand::printText(const ConsoleFrontEnd &frontEnd) const
{
    QVector<QStringList> rows;
    rows.append({QStringLiteral("序号"), QStringLiteral("检测项"), QStringLiteral("检测结果")});
    for (int row = 0; row < CheckRow::Count; ++row)
        rows.append({checkListNumber(row), checkListItem(row), frontEnd.resultText(row)});
    QString out = formatTable(rows);
    if (!frontEnd.warning().isEmpty())
        out += QStringLiteral("\n提示：") + frontEnd.warning() + QLatin1Char('\n');
    writeOut(out);
}

void CheckCommand::printJson(const ConsoleFrontEnd &frontEnd, const DcpInspector &inspector) const
{
    QJsonArray rows;
    for (int row = 0; row < CheckRow::Count; ++row) {
        rows.append(QJsonObject{{QStringLiteral("row"), row},
                                {QStringLiteral("no"), checkListNumber(row)},
                                {QStringLiteral("item"), checkListItem(row)},
                                {QStringLiteral("result"), frontEnd.resultText(row)}});
    }
    QJsonObject labels{{QStringLiteral("cplName"), inspector.cplName}};
    for (const LabelField &field : labelFields())
        labels.insert(QString::fromLatin1(field.key), inspector.*field.member);
    const QJsonObject result{
        {QStringLiteral("passed"), frontEnd.passed()},
        {QStringLiteral("hashChecked"), frontEnd.hashChecked()},
        {QStringLiteral("warning"), textOrNull(frontEnd.warning())},
        {QStringLiteral("rows"), rows},
        {QStringLiteral("labels"), labels},
        {QStringLiteral("encrypted"), inspector.encrypted},
    };
    writeOut(QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Indented)));
}
