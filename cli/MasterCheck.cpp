#include "cli/MasterCheck.h"

#include "cli/CheckCommand.h"
#include "cli/ConsoleFrontEnd.h"
#include "cli/ConsoleText.h"
#include "dcp/DcpInspector.h"
#include "platform/VolumeService.h"
#include "run/CheckRun.h"

#include <QJsonArray>

namespace {
QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}
} // namespace

MasterCheck::MasterCheck(const QString &folder, const QString &settingsPath,
                         const LabelInput *labels, bool showProgress, std::function<bool()> stop)
    : m_labels(labels), m_volumes(createSystemVolumeService()), m_inspector(new DcpInspector),
      m_frontEnd(new ConsoleFrontEnd(labels, showProgress))
{
    m_inspector->volumes = m_volumes.get();
    m_inspector->stopRequested = std::move(stop);
    m_run.reset(new CheckRun(*m_inspector, *m_frontEnd));
    m_run->setSettingsPath(settingsPath);
    if (!folder.isEmpty())
        m_run->setMasterFolder(folder);
}

MasterCheck::~MasterCheck() = default;

void MasterCheck::start()
{
    m_run->start();
}

void MasterCheck::stop()
{
    m_run->stopWorker();
    m_frontEnd->clearProgress();
}

bool MasterCheck::hasEnded() const
{
    return m_frontEnd->hasEnded();
}

MasterResult MasterCheck::result() const
{
    const ConsoleFrontEnd &frontEnd = *m_frontEnd;
    MasterResult result;
    result.status = ExitStatus::Failed;
    if (frontEnd.passed())
        result.status = ExitStatus::Passed;
    else if (frontEnd.reachedConfirmation() && !m_labels)
        result.status = ExitStatus::Unconfirmed;
    result.json = resultJson(frontEnd, *m_inspector);
    result.table = resultTable(frontEnd);
    const int failed = frontEnd.firstFailedRow();
    if (failed >= 0)
        result.firstFailure = checkListNumber(failed) + QLatin1Char(' ') + checkListItem(failed);
    else if (result.status == ExitStatus::Failed)
        result.firstFailure = frontEnd.warning();
    result.hashSkipped = frontEnd.hashSkipped();
    return result;
}

QString resultTable(const ConsoleFrontEnd &frontEnd)
{
    const QString numberHeader = QStringLiteral("序号");
    QVector<QStringList> rows;
    rows.append({numberHeader, QStringLiteral("检测项"), QStringLiteral("检测结果")});
    int indent = displayWidth(numberHeader);
    for (int row = 0; row < CheckRow::Count; ++row) {
        rows.append({checkListNumber(row), checkListItem(row), frontEnd.resultText(row)});
        indent = qMax(indent, displayWidth(checkListNumber(row)));
    }
    // What failed goes under its row, from the item column on.
    const QStringList lines = formatTable(rows).split(QLatin1Char('\n'));
    QString out;
    for (int line = 0; line + 1 < lines.size(); ++line) {
        out += lines.at(line) + QLatin1Char('\n');
        for (const QString &part :
             frontEnd.detail(line - 2).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            out += QString(indent + 2, QLatin1Char(' ')) + part + QLatin1Char('\n');
    }
    if (!frontEnd.warning().isEmpty())
        out += QStringLiteral("\n提示：") + frontEnd.warning() + QLatin1Char('\n');
    if (!frontEnd.advisories().isEmpty()) {
        out += QStringLiteral("\n附加提示：\n");
        for (const Advisory &advisory : frontEnd.advisories()) {
            out += QStringLiteral("  ") + advisory.code + QStringLiteral("  ") +
                   (advisory.path.isEmpty() ? QString() : advisory.path + QStringLiteral("  ")) +
                   advisory.message + QLatin1Char('\n');
        }
    }
    return out;
}

QJsonObject resultJson(const ConsoleFrontEnd &frontEnd, const DcpInspector &inspector)
{
    QJsonArray rows;
    for (int row = 0; row < CheckRow::Count; ++row) {
        QJsonObject object{{QStringLiteral("row"), row},
                           {QStringLiteral("no"), checkListNumber(row)},
                           {QStringLiteral("item"), checkListItem(row)},
                           {QStringLiteral("result"), frontEnd.resultText(row)}};
        // Only a failed row has one.
        if (!frontEnd.detail(row).isEmpty())
            object.insert(QStringLiteral("detail"), frontEnd.detail(row));
        rows.append(object);
    }
    QJsonArray advisories;
    for (const Advisory &advisory : frontEnd.advisories()) {
        advisories.append(QJsonObject{{QStringLiteral("code"), advisory.code},
                                      {QStringLiteral("path"), advisory.path},
                                      {QStringLiteral("message"), advisory.message}});
    }
    QJsonObject labels{{QStringLiteral("cplName"), inspector.cplName}};
    for (const LabelField &field : labelFields())
        labels.insert(QString::fromLatin1(field.key), inspector.*field.member);
    return QJsonObject{
        {QStringLiteral("passed"), frontEnd.passed()},
        {QStringLiteral("hashChecked"), frontEnd.hashChecked()},
        {QStringLiteral("warning"), textOrNull(frontEnd.warning())},
        {QStringLiteral("rows"), rows},
        {QStringLiteral("labels"), labels},
        {QStringLiteral("encrypted"), inspector.encrypted},
        {QStringLiteral("advisories"), advisories},
    };
}
