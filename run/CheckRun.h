#pragma once

#include "dcp/RunSettings.h"
#include "run/Advisories.h"
#include "run/CheckList.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class DcpInspector;
class HashThread;

// What a check run needs of whoever shows it: the check window or the command-line checker.
class CheckRunFrontEnd
{
public:
    virtual ~CheckRunFrontEnd() = default;

    // Write a result cell into column 2 of a row; text matters for progress cells only.
    virtual void writeResult(int row, CellKind kind, const QString &text) = 0;
    // Tell the operator why the run stops (a modal warning in the window). detail names what
    // failed (the file, the value found and the value expected); it may be empty.
    virtual void showWarning(const QString &message, const QString &detail) = 0;
    // The detail of a row that was just written as failed.
    virtual void writeDetail(int row, const QString &detail)
    {
        Q_UNUSED(row)
        Q_UNUSED(detail)
    }
    // Let the operator confirm the label fields and the disk interface of the inspector.
    // True when confirmed (dialog accepted), false when the operator declined (dialog closed).
    virtual bool confirmLabels(DcpInspector &inspector) = 0;
    virtual void setReportEnabled(bool enabled) = 0;
    // Wait cursor while busy, the arrow otherwise.
    virtual void setBusy(bool busy) = 0;
    // Hashing starts over this many bytes (progress texts then count their share).
    virtual void hashingStarted(qint64 totalBytes) { Q_UNUSED(totalBytes) }
    // What the run read from its settings file at its start, before anything is judged.
    virtual void settingsRead(const RunSettings &settings) { Q_UNUSED(settings) }
    // What else is wrong with the package, once per run that reached a verdict (the list may be
    // empty), right before runEnded. Not called for a run that was stopped or cut short.
    virtual void advisoriesFound(const QVector<Advisory> &advisories) { Q_UNUSED(advisories) }
    // The run is over, whichever way it ended. Called once per run, after the last cell and the
    // last setBusy of that run. A run cut short by a newer run or by stopWorker ends with false.
    virtual void runEnded(bool passed) = 0;
};

// One implementation of the run order, driven by the window and by the command-line checker.
class CheckRun : public QObject
{
    Q_OBJECT
public:
    CheckRun(DcpInspector &inspector, CheckRunFrontEnd &frontEnd, QObject *parent = nullptr);
    // Stops a worker that still hashes and waits for it; the front end is not called any more.
    ~CheckRun() override;

    // With a folder set, discovery starts there instead of on the attached disk, and the carrier
    // rules are not run: their rows get the not-applicable cell.
    void setMasterFolder(const QString &folder);
    QString masterFolder() const { return m_masterFolder; }
    // The settings file each run reads at its start ("set.ini" in the working directory unless
    // set).
    void setSettingsPath(const QString &path);
    QString settingsPath() const { return m_settingsPath; }

    // The run button: the first stage, then the hand-over to hashing or straight to the end.
    // A worker of an earlier run that still hashes is stopped first; nothing of it reaches the
    // new run.
    void start();

    bool runCarrierAndPackingChecks();
    void finishCheckRun();

    // Stops and disconnects the worker of the current run, if any, and waits for it. A run that
    // was hashing ends (runEnded(false)).
    void stopWorker();
    bool isHashing() const;
    // The worker of the current run while it exists (finished workers release themselves).
    HashThread *worker() const;
    // For tests: handed to every worker this run starts (see HashThread::setChunkHook).
    void setHashChunkHook(std::function<void(int fileIndex, qint64 fileBytesDone)> hook);

public slots:
    void OnMsgSignal(QString strSign);

private:
    class EndDeferral;

    void fail(int row, const QString &message, const QString &detail = QString());
    void pass(int row);
    void notApplicable(int row);
    // A run that reached a verdict; its advisories are told before its end.
    void endRun(bool passed);
    // A run that was stopped, by the operator or a newer run: no verdict, no advisories.
    void endStoppedRun();
    void closeRun(bool passed);
    void beginRun();
    bool runFirstStage();
    void startHashing();
    bool haltWorker();
    QString hashFailureMessage() const;
    QString hashFailureDetail() const;
    // The asset map's AnnotationText beside the text that had to equal it.
    QString differingTexts(const char *name, const QString &text) const;
    QString namespaceDetail(const QString &file, const QString &namespaceUri) const;
    QString unlistedDetail(const QString &file, const QString &id,
                           const QString &assetMapFile) const;

    DcpInspector &m_inspector;
    CheckRunFrontEnd &m_frontEnd;
    QString m_masterFolder;
    QString m_settingsPath = defaultSettingsPath();
    QPointer<HashThread> m_worker;
    std::function<void(int, qint64)> m_chunkHook;
    bool m_running = false;
    // While start() or OnMsgSignal is on the stack the end of the run is reported when it
    // returns, after its last setBusy.
    int m_endDeferral = 0;
    bool m_endPending = false;
    bool m_endPassed = false;
};
