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
    QVector<QStringList> rows;
    rows.append({QStringLiteral("序号"), QStringLiteral("检测项"), QStringLiteral("检测结果")});
    for (int row = 0; row < CheckRow::Count; ++row)
        rows.append({checkListNumber(row), checkListItem(row), frontEnd.resultText(row)});
    QString out = formatTable(rows);
    if (!frontEnd.warning().isEmpty())
        out += QStringLiteral("\n提示：") + frontEnd.warning() + QLatin1Char('\n');
    return out;
}

QJsonObject resultJson(const ConsoleFrontEnd &frontEnd, const DcpInspector &inspector)
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
    return QJsonObject{
        {QStringLiteral("passed"), frontEnd.passed()},
        {QStringLiteral("hashChecked"), frontEnd.hashChecked()},
        {QStringLiteral("warning"), textOrNull(frontEnd.warning())},
        {QStringLiteral("rows"), rows},
        {QStringLiteral("labels"), labels},
        {QStringLiteral("encrypted"), inspector.encrypted},
    };
}
