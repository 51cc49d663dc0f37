#include "run/CheckRun.h"

#include "dcp/DcpInspector.h"
#include "dcp/FileProblems.h"
#include "dcp/MasterFiles.h"
#include "platform/FileReader.h"
#include "run/HashThread.h"
#include "run/LabelRules.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>

namespace {
// A value between corner brackets, so that blanks at its ends and an empty value show.
QString quoted(const QString &value)
{
    return QStringLiteral("「") + value + QStringLiteral("」");
}

QString hashMismatchMessage()
{
    return QStringLiteral("文件Hash值与PKL文件中的Hash值不一致，请重新制作DCP后，再进行检测!");
}

// The folder given for a folder check, as a drive root: absolute, forward slashes, one
// trailing "/", so that discovery resolves the asset paths as it does on a disk.
QString folderAsDriveRoot(const QString &folder)
{
    QString root =
        QDir::cleanPath(QFileInfo(QDir::fromNativeSeparators(folder)).absoluteFilePath());
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    return root;
}
} // namespace

// Holds back runEnded while start() or OnMsgSignal is on the stack, so that the front end hears
// of the end after the run's last setBusy.
class CheckRun::EndDeferral
{
public:
    explicit EndDeferral(CheckRun &run) : m_run(run) { ++m_run.m_endDeferral; }
    ~EndDeferral()
    {
        if (--m_run.m_endDeferral == 0 && m_run.m_endPending) {
            m_run.m_endPending = false;
            m_run.m_frontEnd.runEnded(m_run.m_endPassed);
        }
    }
    EndDeferral(const EndDeferral &) = delete;
    EndDeferral &operator=(const EndDeferral &) = delete;

private:
    CheckRun &m_run;
};

// The details below name files as the operator finds them on the disk.
QString CheckRun::namespaceDetail(const QString &file, const QString &namespaceUri) const
{
    return QStringLiteral("文件：%1\n命名空间：%2\n应包含：%3 或 %4")
        .arg(m_inspector.displayPath(file), quoted(namespaceUri), kInteropNamespacePrefix,
             kSmpteNamespacePrefix);
}

QString CheckRun::differingTexts(const char *name, const QString &text) const
{
    return QStringLiteral("ASSETMAP的AnnotationText：%1\n%2：%3")
        .arg(quoted(m_inspector.assetMap.annotationText), QString::fromUtf8(name), quoted(text));
}

QString CheckRun::unlistedDetail(const QString &file, const QString &id,
                                 const QString &assetMapFile) const
{
    return QStringLiteral("文件%1的Id：%2\nASSETMAP %3 中没有此Id")
        .arg(m_inspector.displayPath(file), id, m_inspector.displayPath(assetMapFile));
}

CheckRun::CheckRun(DcpInspector &inspector, CheckRunFrontEnd &frontEnd, QObject *parent)
    : QObject(parent), m_inspector(inspector), m_frontEnd(frontEnd)
{
}

CheckRun::~CheckRun()
{
    // A thread still running when the application leaves main aborts the process.
    haltWorker();
}

void CheckRun::setMasterFolder(const QString &folder)
{
    m_masterFolder = folder;
}

void CheckRun::setSettingsPath(const QString &path)
{
    m_settingsPath = path;
}

void CheckRun::start()
{
    beginRun();
    EndDeferral deferral(*this);
    m_frontEnd.setBusy(true);
    if (!runFirstStage()) {
        m_frontEnd.setBusy(false);
        return;
    }

    if (!m_inspector.settings.hashCheck) {
        // Nothing was hashed, so nothing may certify that the digests agree: the row is not
        // judged, and the run goes on as it would after a passing hash check.
        notApplicable(CheckRow::Hash);
        finishCheckRun();
        m_frontEnd.setBusy(false);
        return;
    }
    startHashing();
}

bool CheckRun::runCarrierAndPackingChecks()
{
    beginRun();
    return runFirstStage();
}

bool CheckRun::runFirstStage()
{
    m_running = true;

    for (int row = 0; row < CheckRow::Count; ++row)
        m_frontEnd.writeResult(row, CellKind::Blank, QString());
    m_frontEnd.setReportEnabled(false);
    m_inspector.resetRunData();
    m_inspector.settings = readRunSettings(m_settingsPath);
    m_frontEnd.settingsRead(m_inspector.settings);

    QString message;
    const auto stop = [this](int row, const QString &text, const QString &detail) {
        fail(row, text, detail);
        endRun(false);
        return false;
    };

    if (m_masterFolder.isEmpty()) {
        if (!m_inspector.findRemovableDrives(message))
            return stop(CheckRow::Physical, message, m_inspector.failureDetail);
        pass(CheckRow::Physical);
        if (!m_inspector.checkNtfs(message))
            return stop(CheckRow::FileSystem, message, m_inspector.failureDetail);
        pass(CheckRow::FileSystem);
        if (!m_inspector.checkSingleDrive(message))
            return stop(CheckRow::Partition, message, m_inspector.failureDetail);
        pass(CheckRow::Partition);
    } else {
        // A folder is no carrier: its rows are not judged, so nothing claims the disk passed.
        notApplicable(CheckRow::Physical);
        notApplicable(CheckRow::FileSystem);
        notApplicable(CheckRow::Partition);
        m_inspector.masterFolder = folderAsDriveRoot(m_masterFolder);
    }

    if (!m_inspector.findMaster(message)) {
        if (m_inspector.stopRequested && m_inspector.stopRequested()) {
            endStoppedRun(); // stopped by the operator: no verdict, so no warning and no cell
            return false;
        }
        return stop(CheckRow::DcpAndKdm, message, m_inspector.failureDetail);
    }
    pass(CheckRow::DcpAndKdm);

    if (!m_inspector.checkDcpName(message))
        return stop(CheckRow::DcpName, message, m_inspector.failureDetail);
    pass(CheckRow::DcpName);

    if (m_inspector.assetMapPaths.isEmpty())
        return stop(CheckRow::AssetMapPresent,
                    QStringLiteral("缺少Assetmap文件，请重新制作DCP后，再进行检测!"), QString());
    pass(CheckRow::AssetMapPresent);

    const QString assetMapFile = m_inspector.assetMapPaths.first();
    if (!hasDcpNamespace(m_inspector.assetMap.namespaceUri))
        return stop(CheckRow::AssetMapNamespace,
                    QStringLiteral("Assetmap文件中的命名空间不符合，请重新制作DCP后，再进行检测!"),
                    namespaceDetail(assetMapFile, m_inspector.assetMap.namespaceUri));
    pass(CheckRow::AssetMapNamespace);

    if (!m_inspector.checkAssetPaths(message))
        return stop(CheckRow::AssetPaths, message, m_inspector.failureDetail);
    pass(CheckRow::AssetPaths);
    pass(CheckRow::AssetMapHeader);

    const PklInfo pkl = m_inspector.pkls.value(0);
    if (!m_inspector.pklListedInAssetMap())
        return stop(CheckRow::PklListed,
                    QStringLiteral(
                        "PKL文件的UUID和ASSETMAP中PKL的UUID不一致，请重新制作DCP后，再进行检测!"),
                    unlistedDetail(pkl.filePath, pkl.id, assetMapFile));
    pass(CheckRow::PklListed);

    if (!hasDcpNamespace(pkl.namespaceUri))
        return stop(CheckRow::PklNamespace,
                    QStringLiteral("PKL文件中的命名空间不符合，请重新制作DCP后，再进行检测!"),
                    namespaceDetail(pkl.filePath, pkl.namespaceUri));
    pass(CheckRow::PklNamespace);

    if (m_inspector.assetMap.annotationText != pkl.annotationText)
        return stop(CheckRow::PklAnnotation,
                    QStringLiteral("PKL和Assetmap文件中的AnnotationText项内容不一致，请重新制作DCP"
                                   "后，再进行检测!"),
                    differingTexts("PKL的AnnotationText", pkl.annotationText));
    pass(CheckRow::PklAnnotation);

    if (!m_inspector.checkPklAssets(message))
        return stop(CheckRow::PklAssets, message, m_inspector.failureDetail);
    pass(CheckRow::PklAssets);
    return true;
}

void CheckRun::startHashing()
{
    m_frontEnd.writeResult(CheckRow::Hash, CellKind::Progress, QStringLiteral("检测中......"));

    // The packing list's paths are the asset map's by now, relative to the asset map's folder.
    // Each was a file of the master a moment ago; one that has gone or now leads outside the
    // master changed during the check and is not hashed.
    const QString assetMapPath = m_inspector.assetMapPaths.value(0);
    const QString folder = assetMapPath.left(assetMapPath.lastIndexOf(QLatin1Char('/')));
    QStringList paths;
    QStringList hashes;
    const PklInfo pkl = m_inspector.pkls.value(0);
    for (const AssetInfo &asset : pkl.assets) {
        const QString path = assetFileInMaster(m_inspector.masterRoot(), folder, asset.path);
        if (path.isEmpty()) {
            fail(CheckRow::Hash, changedFileMessage(folder + QLatin1Char('/') + asset.path),
                 QStringLiteral("文件：%1\n原因：文件已不存在，或已不在母版内")
                     .arg(m_inspector.displayPath(folder + QLatin1Char('/') + asset.path)));
            m_frontEnd.setBusy(false);
            endRun(false);
            return;
        }
        paths << path;
        hashes << asset.hash;
    }

    qint64 total = 0;
    for (const QString &path : qAsConst(paths)) {
        const FileState state = FileReader::stateAt(path);
        total += state.status == FileState::Present ? state.size : 0;
    }
    m_frontEnd.hashingStarted(total);

    auto *worker = new HashThread(paths, hashes);
    worker->setChunkHook(m_chunkHook);
    m_worker = worker;
    connect(worker, &HashThread::MsgSignal, this, &CheckRun::OnMsgSignal);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
}

void CheckRun::OnMsgSignal(QString strSign)
{
    // A stopped worker's messages were withdrawn when it stopped; whatever arrives here belongs
    // to the current run.
    EndDeferral deferral(*this);
    if (strSign == QLatin1String("OK")) {
        pass(CheckRow::Hash);
        finishCheckRun();
    } else if (strSign == QLatin1String("ERR")) {
        fail(CheckRow::Hash, hashFailureMessage(), hashFailureDetail());
        endRun(false);
    } else {
        m_frontEnd.writeResult(CheckRow::Hash, CellKind::Progress, strSign);
    }
    m_frontEnd.setBusy(false);
}

void CheckRun::finishCheckRun()
{
    // Called on its own, the continuation is a run of its own.
    m_running = true;
    QString message;
    const PklInfo pkl = m_inspector.pkls.value(0);
    const CplInfo cpl = m_inspector.cpls.value(0);
    const auto stop = [this](int row, const QString &text, const QString &detail) {
        fail(row, text, detail);
        endRun(false);
    };

    if (pkl.hasGroupId)
        return stop(
            CheckRow::GroupId,
            QStringLiteral("PKL文件中有GroupId元素，DCP不完整，请重新制作DCP后，再进行检测!"),
            QStringLiteral("PKL文件%1中有GroupId元素").arg(m_inspector.displayPath(pkl.filePath)));
    pass(CheckRow::GroupId);
    pass(CheckRow::PklHeader);

    const QString assetMapFile = m_inspector.assetMapPaths.value(0);
    if (!m_inspector.cplListedInAssetMap())
        return stop(CheckRow::CplListed,
                    QStringLiteral(
                        "CPL文件的UUID和ASSETMAP中CPL的UUID不一致，请重新制作DCP后，再进行检测!"),
                    unlistedDetail(cpl.filePath, cpl.id, assetMapFile));
    pass(CheckRow::CplListed);

    if (!hasDcpNamespace(cpl.namespaceUri))
        return stop(CheckRow::CplNamespace,
                    QStringLiteral("CPL文件中的命名空间不符合，请重新制作DCP后，再进行检测!"),
                    namespaceDetail(cpl.filePath, cpl.namespaceUri));
    pass(CheckRow::CplNamespace);

    if (m_inspector.assetMap.annotationText != cpl.contentTitleText)
        return stop(CheckRow::CplTitle,
                    QStringLiteral("CPL和Assetmap文件中的AnnotationText项内容不一致，请重新制作DCP"
                                   "后，再进行检测!"),
                    differingTexts("CPL的ContentTitleText", cpl.contentTitleText));
    pass(CheckRow::CplTitle);

    if (!m_inspector.checkCplTrackHashes(message))
        return stop(CheckRow::CplTrackHashes, message, m_inspector.failureDetail);
    pass(CheckRow::CplTrackHashes);

    if (!cpl.stereoscopic) {
        notApplicable(CheckRow::Stereoscopic);
    } else if (!hasDcpNamespace(cpl.stereoscopicNamespaceUri)) {
        return stop(CheckRow::Stereoscopic,
                    QStringLiteral("Cpl文件中MainStereoscopicPicture命名空间不符合，请重新制作DCP后"
                                   "，再进行检测!"),
                    namespaceDetail(cpl.filePath, cpl.stereoscopicNamespaceUri));
    } else {
        pass(CheckRow::Stereoscopic);
    }
    pass(CheckRow::CplHeader);
    pass(CheckRow::DcpHeader);

    if (!m_inspector.encrypted) {
        m_frontEnd.writeResult(CheckRow::KdmHeader, CellKind::UnencryptedPass,
                               cellKindText(CellKind::UnencryptedPass));
        notApplicable(CheckRow::KdmId);
        notApplicable(CheckRow::KdmNamespace);
    } else {
        if (!m_inspector.checkKdmCompositionId(message))
            return stop(CheckRow::KdmId, message, m_inspector.failureDetail);
        pass(CheckRow::KdmId);
        if (!m_inspector.checkKdmNamespace(message))
            return stop(CheckRow::KdmNamespace, message, m_inspector.failureDetail);
        pass(CheckRow::KdmNamespace);
        pass(CheckRow::KdmHeader);
    }

    m_inspector.prefillLabelFields();
    if (!m_frontEnd.confirmLabels(m_inspector)) {
        // The operator closed the dialog: the run ends without a word.
        endRun(false);
        return;
    }

    if (!m_inspector.checkLabelValues(message))
        return stop(CheckRow::Label, message, m_inspector.failureDetail);
    pass(CheckRow::Label);

    if (!isUsb3OrHigher(m_inspector.diskInterface))
        return stop(CheckRow::Interface,
                    QStringLiteral("移动硬盘数据接口必须是USB3.0以上，请替换后再进行检测！"),
                    QStringLiteral("硬盘接口：%1\n应为：USB3.0或更高版本")
                        .arg(quoted(m_inspector.diskInterface)));
    pass(CheckRow::Interface);
    if (m_masterFolder.isEmpty())
        pass(CheckRow::CarrierHeader);
    else
        notApplicable(CheckRow::CarrierHeader);
    m_frontEnd.setReportEnabled(true);
    endRun(true);
}

void CheckRun::stopWorker()
{
    const bool wasHashing = m_running && !m_worker.isNull();
    haltWorker();
    if (wasHashing) {
        m_frontEnd.setBusy(false);
        endStoppedRun();
    }
}

QString CheckRun::hashFailureMessage() const
{
    // A disk that cannot be read, or a file changed under the check, is not a badly made
    // package: the operator is told which file and why, not to remake the package.
    const HashFailure failure = m_worker ? m_worker->failure() : HashFailure();
    switch (failure.kind) {
    case HashFailure::Unreadable:
        return unreadableFileMessage(failure.path, failure.reason);
    case HashFailure::Changed:
        return changedFileMessage(failure.path);
    case HashFailure::None:
    case HashFailure::Mismatch:
        break;
    }
    return hashMismatchMessage();
}

QString CheckRun::hashFailureDetail() const
{
    const HashFailure failure = m_worker ? m_worker->failure() : HashFailure();
    const QString file = QStringLiteral("文件：") + m_inspector.displayPath(failure.path);
    switch (failure.kind) {
    case HashFailure::Mismatch:
        return file + QStringLiteral("\nPKL中的Hash值：%1\n计算所得Hash值：%2")
                          .arg(failure.expected, failure.actual);
    case HashFailure::Unreadable:
    case HashFailure::Changed:
        return file + QStringLiteral("\n原因：") +
               (failure.reason.isEmpty() ? QStringLiteral("文件在检测过程中发生了变化")
                                         : failure.reason);
    case HashFailure::None:
        break;
    }
    return QString();
}

void CheckRun::setHashChunkHook(std::function<void(int, qint64)> hook)
{
    m_chunkHook = std::move(hook);
}

HashThread *CheckRun::worker() const
{
    return m_worker.data();
}

bool CheckRun::isHashing() const
{
    return !m_worker.isNull() && m_worker->isRunning();
}

void CheckRun::fail(int row, const QString &message, const QString &detail)
{
    m_frontEnd.showWarning(message, detail);
    m_frontEnd.writeResult(row, CellKind::Fail, cellKindText(CellKind::Fail));
    m_frontEnd.writeDetail(row, detail);
}

void CheckRun::pass(int row)
{
    m_frontEnd.writeResult(row, CellKind::Pass, cellKindText(CellKind::Pass));
}

void CheckRun::notApplicable(int row)
{
    m_frontEnd.writeResult(row, CellKind::NotApplicable, cellKindText(CellKind::NotApplicable));
}

void CheckRun::endRun(bool passed)
{
    if (!m_running)
        return;
    m_frontEnd.advisoriesFound(findAdvisories(m_inspector));
    closeRun(passed);
}

void CheckRun::endStoppedRun()
{
    closeRun(false);
}

void CheckRun::closeRun(bool passed)
{
    if (!m_running)
        return;
    m_running = false;
    if (m_endDeferral > 0) {
        m_endPending = true;
        m_endPassed = passed;
    } else {
        m_frontEnd.runEnded(passed);
    }
}

void CheckRun::beginRun()
{
    // An earlier run still hashing is cut short: its worker stops and is gone before anything
    // of the new run is written.
    const bool wasRunning = m_running;
    haltWorker();
    if (wasRunning) {
        m_running = false;
        m_frontEnd.runEnded(false);
    }
}

bool CheckRun::haltWorker()
{
    if (m_worker.isNull())
        return false;
    HashThread *worker = m_worker.data();
    m_worker = nullptr;
    disconnect(worker, nullptr, this, nullptr);
    worker->requestInterruption();
    worker->wait();
    delete worker;
    // Messages the worker queued before it stopped would land in the next run.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    return true;
}
